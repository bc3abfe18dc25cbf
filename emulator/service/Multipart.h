// The completion document of a multipart upload, checked against the parts
// the upload holds.
//   <CompleteMultipartUpload><TotalPartNum>2</TotalPartNum>
//     <Part><PartNumber>1</PartNumber><PartSize>2097152</PartSize><ETag/></Part>
//     <Part><PartNumber>2</PartNumber><PartSize>1000</PartSize><ETag/></Part>
//   </CompleteMultipartUpload>
#ifndef OCS_EMULATOR_SERVICE_MULTIPART_H_
#define OCS_EMULATOR_SERVICE_MULTIPART_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "emulator/service/Errors.h"
#include "emulator/store/Store.h"

namespace ocs {

struct CompletionPart {
  uint32_t number = 0;
  uint64_t size = 0;
};

// Parses the document: TotalPartNum equal to the number of Part elements
// (at least one), each with PartNumber (1 to 10000), PartSize and ETag.
// On failure `why` says what is wrong.
std::optional<std::vector<CompletionPart>> ParseCompletion(const std::string& xml,
                                                           std::string* why);

// Parses `xml` and checks it against `upload`: part numbers ascending, each
// one uploaded, with the size the upload holds. On success `numbers` holds
// the part numbers in order.
std::optional<ApiError> CheckCompletion(const std::string& xml, const UploadInfo& upload,
                                        std::vector<uint32_t>* numbers);

// A part number as the query carries it: 1 to 10000, plain decimal.
std::optional<uint32_t> ParsePartNumber(const std::string& text);

}  // namespace ocs

#endif  // OCS_EMULATOR_SERVICE_MULTIPART_H_

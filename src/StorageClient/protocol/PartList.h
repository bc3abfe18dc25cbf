// The parts of a multipart upload, as listed in its completion request.
#ifndef ORCA_CS_PARTLIST_H_
#define ORCA_CS_PARTLIST_H_

#include <cstdint>
#include <map>
#include <string>

namespace Orca {
namespace CloudStorage {

struct SPartInfo {
  uint32_t part_size = 0;
  std::string etag;  // written into the completion document; left empty by this library
};

// Part number (from 1) to part, in ascending part number.
using PartList = std::map<uint32_t, SPartInfo>;

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_PARTLIST_H_

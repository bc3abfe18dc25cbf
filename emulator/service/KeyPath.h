// Object addresses in request paths, and the file names that stand for them
// on disk. Keys are taken byte for byte from the request (no percent
// decoding), and every name is encoded into one safe path component, so no
// request can reach outside the data directory.
#ifndef OCS_EMULATOR_SERVICE_KEYPATH_H_
#define OCS_EMULATOR_SERVICE_KEYPATH_H_

#include <optional>
#include <string>

namespace ocs {

struct ObjectAddress {
  std::string pool;
  std::string key;
};

// Splits "/pool/key" (the raw path, without the query). The key may hold
// "/", but no empty, "." or ".." segment (also when percent-decoded), no NUL
// or other control byte, and its file name must fit (see EncodeFileName).
// On failure `why` says what is wrong.
std::optional<ObjectAddress> ParseObjectPath(const std::string& raw_path, std::string* why);

// True for a usable pool name: 1 to 63 of A-Z a-z 0-9 . _ - and not "." or "..".
bool IsValidPoolName(const std::string& pool);

// One path component that stands for `name`: bytes other than A-Z a-z 0-9
// "_", "-" and "." are written as %XX, and so is a leading ".". Never "",
// "." or "..", never holds "/".
std::string EncodeFileName(const std::string& name);
// Inverse of EncodeFileName; nothing for a name it cannot have produced.
std::optional<std::string> DecodeFileName(const std::string& file_name);

// Longest encoded file name accepted.
inline constexpr size_t kMaxFileName = 240;

}  // namespace ocs

#endif  // OCS_EMULATOR_SERVICE_KEYPATH_H_

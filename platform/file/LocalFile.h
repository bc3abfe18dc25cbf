// Local files, with advisory locks standing in for exclusive sharing modes.
#ifndef ORCA_PLATFORM_FILE_LOCALFILE_H_
#define ORCA_PLATFORM_FILE_LOCALFILE_H_

#include <cstdint>
#include <string>

namespace Orca {
namespace File {

enum class Access {
  kRead,       // read only; holds a shared lock while open
  kReadWrite,  // read and write; holds an exclusive lock while open
};

enum class Disposition {
  kOpenExisting,  // fail when the file does not exist
  kOpenAlways,    // create the file when it does not exist
};

// One open file. Move-only; closes on destruction. Every failing call leaves
// the system error number in LastError().
class CLocalFile {
 public:
  CLocalFile() = default;
  ~CLocalFile();
  CLocalFile(CLocalFile&& other) noexcept;
  CLocalFile& operator=(CLocalFile&& other) noexcept;
  CLocalFile(const CLocalFile&) = delete;
  CLocalFile& operator=(const CLocalFile&) = delete;

  // Opens `path`. The lock is taken without waiting: a file that another
  // opener holds incompatibly fails with EWOULDBLOCK. Directories fail.
  // `path` is used as the bytes given: any name the file system takes.
  bool Open(const std::string& path, Access access, Disposition disposition);
  bool IsOpen() const { return fd_ >= 0; }
  void Close();

  bool Size(uint64_t& size);
  // Reads up to `size` bytes at the current position; `done` may be short at
  // the end of the file.
  bool Read(void* buffer, uint32_t size, uint32_t& done);
  // Writes all `size` bytes at the current position (`done` tells how many
  // went out when it fails part way).
  bool Write(const void* data, uint32_t size, uint32_t& done);
  // Writes all `size` bytes at `offset`, leaving the position unchanged.
  bool WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t& done);
  // Cuts or extends the file to `size` bytes.
  bool Truncate(uint64_t size);

  int LastError() const { return last_error_; }

 private:
  bool Fail();

  int fd_ = -1;
  int last_error_ = 0;
};

}  // namespace File
}  // namespace Orca

#endif  // ORCA_PLATFORM_FILE_LOCALFILE_H_

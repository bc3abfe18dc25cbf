// Local files in tests: whole-file reads and writes, and a private temporary
// directory removed with everything in it.
#ifndef ORCA_TEST_SUPPORT_FILES_TESTFILES_H_
#define ORCA_TEST_SUPPORT_FILES_TESTFILES_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace orca_test {

// The contents of the file at `path`, read as bytes ("" when it cannot be read).
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Replaces the file at `path` with `bytes`.
inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A private temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir() { EXPECT_NE(mkdtemp(path_.data()), nullptr); }
  ~TempDir() { std::filesystem::remove_all(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes `content` to `name` in this directory; returns its path.
  std::string Write(const std::string& name, const std::string& content) const {
    std::ofstream(path_ + "/" + name, std::ios::binary) << content;
    return path_ + "/" + name;
  }

 private:
  std::string path_ = (std::filesystem::temp_directory_path() / "ocs-cli-test.XXXXXX").string();
};

}  // namespace orca_test

#endif  // ORCA_TEST_SUPPORT_FILES_TESTFILES_H_

// Temporary files for the ocs tests.
#ifndef ORCA_TESTS_CLI_TEST_FILES_H_
#define ORCA_TESTS_CLI_TEST_FILES_H_

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace orca_test {

// A private temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir() : path_((std::filesystem::temp_directory_path() / "ocs-cli-test.XXXXXX").string()) {
    if (mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes `content` to `name` in this directory (creating folders on the
  // way); returns its path.
  std::string Write(const std::string& name, const std::string& content) const {
    const std::filesystem::path path = path_ + "/" + name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    return path.string();
  }

 private:
  std::string path_;
};

// The contents of the file at `path` ("" when it cannot be read).
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace orca_test

#endif  // ORCA_TESTS_CLI_TEST_FILES_H_

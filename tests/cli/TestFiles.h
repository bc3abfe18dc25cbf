// Temporary files for the ocs tests.
#ifndef ORCA_TESTS_CLI_TEST_FILES_H_
#define ORCA_TESTS_CLI_TEST_FILES_H_

#include <string>

namespace orca_test {

// A private temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes `content` to the file `name` in this directory; returns its path.
  std::string Write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

// Creates or replaces the file at `path`.
void WriteFile(const std::string& path, const std::string& content);
// The contents of the file at `path` ("" when it cannot be read).
std::string ReadFile(const std::string& path);

}  // namespace orca_test

#endif  // ORCA_TESTS_CLI_TEST_FILES_H_

#include "emulator/store/Store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "emulator/service/Crypto.h"
#include "emulator/service/KeyPath.h"

namespace ocs {
namespace fs = std::filesystem;
namespace {

constexpr size_t kCopyBuffer = 1 << 20;

std::optional<uint64_t> FileSize(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return static_cast<uint64_t>(info.st_size);
}

std::optional<StoredFile> OpenForReading(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  StoredFile file;
  file.fd = std::shared_ptr<int>(new int(fd), [](const int* p) {
    ::close(*p);
    delete p;
  });
  file.size = static_cast<uint64_t>(info.st_size);
  return file;
}

// Appends the whole file at `path` to `out`.
bool AppendFile(const std::string& path, TempFile& out) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> buffer(kCopyBuffer);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<size_t>(in.gcount());
    if (got > 0 && !out.Write(buffer.data(), got)) {
      return false;
    }
  }
  return in.eof();
}

std::optional<uint32_t> PartNumberOf(const std::string& file_name) {
  if (file_name.empty() || file_name.size() > 5 || file_name[0] == '0' ||
      file_name.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(std::stoul(file_name));
}

bool WriteSmallFile(const std::string& path, const std::string& content) {
  const std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) {
      return false;
    }
  }
  return ::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace

TempFile::TempFile(std::string path, FILE* file) : path_(std::move(path)), file_(file) {}

TempFile::~TempFile() {
  Close();
  if (!committed_) {
    ::unlink(path_.c_str());
  }
}

bool TempFile::Write(const char* data, size_t size) {
  if (file_ == nullptr || std::fwrite(data, 1, size, file_) != size) {
    return false;
  }
  size_ += size;
  return true;
}

bool TempFile::Close() {
  if (file_ == nullptr) {
    return true;
  }
  const bool ok = std::fclose(file_) == 0;
  file_ = nullptr;
  return ok;
}

Store::Store(std::string root, const std::vector<PoolConfig>& pools) : root_(std::move(root)) {
  for (const auto& pool : pools) {
    pools_[pool.name].quota = pool.quota;
  }
}

std::string Store::Open() {
  std::error_code ec;
  for (const char* folder : {"objects", "pictures", "uploads", "tmp"}) {
    fs::create_directories(root_ + "/" + folder, ec);
    if (ec) {
      return "cannot create " + root_ + "/" + folder + ": " + ec.message();
    }
  }
  for (const auto& entry : fs::directory_iterator(root_ + "/tmp", ec)) {
    fs::remove_all(entry.path(), ec);
  }
  const std::lock_guard<std::mutex> lock(mu_);
  LoadObjects("objects");
  LoadObjects("pictures");
  LoadUploads();
  return "";
}

void Store::LoadObjects(const std::string& folder) {
  std::error_code ec;
  for (const auto& pool_dir : fs::directory_iterator(root_ + "/" + folder, ec)) {
    const auto pool = DecodeFileName(pool_dir.path().filename().string());
    const auto state = pool ? pools_.find(*pool) : pools_.end();
    if (state == pools_.end()) {
      continue;  // a pool of another configuration: kept, but not served
    }
    for (const auto& file : fs::directory_iterator(pool_dir.path(), ec)) {
      state->second.used += FileSize(file.path().string()).value_or(0);
    }
  }
}

void Store::LoadUploads() {
  std::error_code ec;
  for (const auto& dir : fs::directory_iterator(root_ + "/uploads", ec)) {
    std::ifstream meta(dir.path() / "meta");
    UploadInfo info;
    if (!std::getline(meta, info.pool) || !std::getline(meta, info.key) ||
        pools_.count(info.pool) == 0) {
      fs::remove_all(dir.path(), ec);
      continue;
    }
    for (const auto& file : fs::directory_iterator(dir.path(), ec)) {
      const auto number = PartNumberOf(file.path().filename().string());
      const auto size = FileSize(file.path().string());
      if (number && size) {
        info.parts[*number] = *size;
        pools_[info.pool].used += *size;
      } else if (file.path().filename() != "meta") {
        fs::remove(file.path(), ec);
      }
    }
    uploads_[dir.path().filename().string()] = std::move(info);
  }
}

bool Store::Reserve(const std::string& pool, uint64_t bytes) {
  const std::lock_guard<std::mutex> lock(mu_);
  const auto it = pools_.find(pool);
  if (it == pools_.end()) {
    return false;
  }
  PoolState& state = it->second;
  if (state.quota != 0 && (bytes > state.quota || state.used > state.quota - bytes)) {
    return false;
  }
  state.used += bytes;
  return true;
}

void Store::Release(const std::string& pool, uint64_t bytes) {
  const std::lock_guard<std::mutex> lock(mu_);
  ReleaseLocked(pool, bytes);
}

bool Store::IsFull(const std::string& pool) {
  const std::lock_guard<std::mutex> lock(mu_);
  const auto it = pools_.find(pool);
  return it != pools_.end() && it->second.quota != 0 && it->second.used >= it->second.quota;
}

void Store::ReleaseLocked(const std::string& pool, uint64_t bytes) {
  const auto it = pools_.find(pool);
  if (it != pools_.end()) {
    it->second.used -= bytes < it->second.used ? bytes : it->second.used;
  }
}

std::unique_ptr<TempFile> Store::NewTempFile() {
  const std::string path =
      root_ + "/tmp/" + std::to_string(temp_counter_.fetch_add(1)) + "-" + RandomHex(6);
  FILE* file = std::fopen(path.c_str(), "wbxe");
  if (file == nullptr) {
    return nullptr;
  }
  std::setvbuf(file, nullptr, _IOFBF, kCopyBuffer);
  return std::make_unique<TempFile>(path, file);
}

std::string Store::ObjectPath(const std::string& pool, const std::string& key) const {
  return root_ + "/objects/" + EncodeFileName(pool) + "/" + EncodeFileName(key);
}

std::string Store::UploadDir(const std::string& upload_id) const {
  return root_ + "/uploads/" + EncodeFileName(upload_id);
}

std::string Store::PicturePath(const std::string& pool, const std::string& id) const {
  return root_ + "/pictures/" + EncodeFileName(pool) + "/" + EncodeFileName(id);
}

bool Store::CommitLocked(TempFile& file, const std::string& pool, const std::string& target) {
  std::error_code ec;
  fs::create_directories(fs::path(target).parent_path(), ec);
  const uint64_t replaced = FileSize(target).value_or(0);
  if (!file.Close() || ::rename(file.path().c_str(), target.c_str()) != 0) {
    return false;
  }
  file.MarkCommitted();
  ReleaseLocked(pool, replaced);
  return true;
}

bool Store::CommitObject(TempFile& file, const std::string& pool, const std::string& key) {
  const std::lock_guard<std::mutex> lock(mu_);
  return CommitLocked(file, pool, ObjectPath(pool, key));
}

std::optional<StoredFile> Store::OpenObject(const std::string& pool, const std::string& key) {
  return OpenForReading(ObjectPath(pool, key));
}

bool Store::RemoveObject(const std::string& pool, const std::string& key) {
  const std::lock_guard<std::mutex> lock(mu_);
  const std::string path = ObjectPath(pool, key);
  const auto size = FileSize(path);
  if (!size || ::unlink(path.c_str()) != 0) {
    return false;
  }
  ReleaseLocked(pool, *size);
  return true;
}

std::vector<std::pair<std::string, uint64_t>> Store::ListObjects(const std::string& pool) {
  std::vector<std::pair<std::string, uint64_t>> objects;
  std::error_code ec;
  for (const auto& file : fs::directory_iterator(root_ + "/objects/" + EncodeFileName(pool), ec)) {
    const auto key = DecodeFileName(file.path().filename().string());
    const auto size = FileSize(file.path().string());
    if (key && size) {
      objects.emplace_back(*key, *size);
    }
  }
  return objects;
}

std::string Store::CreateUpload(const std::string& pool, const std::string& key) {
  std::string id = RandomHex(16);
  std::error_code ec;
  fs::create_directories(UploadDir(id), ec);
  if (ec || !WriteSmallFile(UploadDir(id) + "/meta", pool + "\n" + key + "\n")) {
    fs::remove_all(UploadDir(id), ec);
    return "";
  }
  const std::lock_guard<std::mutex> lock(mu_);
  uploads_[id] = UploadInfo{pool, key, {}};
  return id;
}

std::optional<UploadInfo> Store::GetUpload(const std::string& upload_id) {
  const std::lock_guard<std::mutex> lock(mu_);
  const auto it = uploads_.find(upload_id);
  if (it == uploads_.end()) {
    return std::nullopt;
  }
  return it->second;
}

std::map<std::string, UploadInfo> Store::ListUploads() {
  const std::lock_guard<std::mutex> lock(mu_);
  return uploads_;
}

bool Store::CommitPart(TempFile& file, const std::string& upload_id, uint32_t number) {
  const std::lock_guard<std::mutex> lock(mu_);
  const auto it = uploads_.find(upload_id);
  if (it == uploads_.end() || completing_.count(upload_id) != 0 ||
      !CommitLocked(file, it->second.pool, UploadDir(upload_id) + "/" + std::to_string(number))) {
    return false;
  }
  it->second.parts[number] = file.size();
  return true;
}

std::string Store::CompleteUpload(const std::string& upload_id,
                                  const std::vector<uint32_t>& numbers) {
  UploadInfo info;
  {
    const std::lock_guard<std::mutex> lock(mu_);
    const auto it = uploads_.find(upload_id);
    if (it == uploads_.end() || !completing_.insert(upload_id).second) {
      return "the upload is not open";
    }
    info = it->second;
  }
  auto object = NewTempFile();
  bool copied = object != nullptr;
  for (size_t i = 0; copied && i < numbers.size(); ++i) {
    copied = AppendFile(UploadDir(upload_id) + "/" + std::to_string(numbers[i]), *object);
  }
  // Parts left out of the list are dropped with the upload.
  uint64_t dropped = 0;
  for (const auto& [number, size] : info.parts) {
    dropped += std::find(numbers.begin(), numbers.end(), number) == numbers.end() ? size : 0;
  }
  const std::string retired = root_ + "/tmp/upload-" + EncodeFileName(upload_id);
  {
    const std::lock_guard<std::mutex> lock(mu_);
    completing_.erase(upload_id);
    if (!copied || !CommitLocked(*object, info.pool, ObjectPath(info.pool, info.key)) ||
        ::rename(UploadDir(upload_id).c_str(), retired.c_str()) != 0) {
      return "the parts could not be assembled";
    }
    uploads_.erase(upload_id);
    ReleaseLocked(info.pool, dropped);
  }
  std::error_code ec;
  fs::remove_all(retired, ec);
  return "";
}

bool Store::CommitPicture(TempFile& file, const std::string& pool, const std::string& id) {
  const std::lock_guard<std::mutex> lock(mu_);
  return CommitLocked(file, pool, PicturePath(pool, id));
}

std::optional<StoredFile> Store::OpenPicture(const std::string& pool, const std::string& id) {
  return OpenForReading(PicturePath(pool, id));
}

}  // namespace ocs

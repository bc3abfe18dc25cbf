// Soak: eight threads run 2,000 mixed operations against one emulator that
// injects random faults (seeded; the seed is printed, ORCA_SOAK_SEED
// replaces it). Every operation is accounted for: it succeeded and what it
// stored or fetched was verified, or it failed with a recorded code (the
// picture client, which records none, with false). Nothing may crash, leak
// or hang; the counts are printed at the end.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "OrcaCloudStorage/StorageClient.h"

namespace orca_test {
namespace {

using Orca::CloudStorage::CObjectClient;
using Orca::CloudStorage::CPictureClient;

constexpr int kThreads = 8;
constexpr int kOperationsPerThread = 250;
constexpr uint64_t kDefaultSeed = 20261206;
constexpr double kFaultProbability = 0.08;
constexpr uint32_t kClientTimeoutMs = 1000;
constexpr auto kOperationBound = std::chrono::seconds(60);  // a hang, not slowness
constexpr size_t kMultipartSize = 10 * 1024 * 1024 + 1;
constexpr uint64_t kGeneratedSize = 200 * 1024 + 7;
constexpr uint64_t kGeneratedSeed = 99;
// What the malformed and empty faults send in place of a body: a download
// whose answer they replaced rightly hands back these bytes.
const char* const kReplacedBodies[] = {
    R"(<?xml version="1.0" encoding="UTF-8"?><BestNodeInfo><Loc)", ""};

enum class Kind {
  kUploadMemory,
  kUploadFile,
  kUploadMultipart,
  kPieces,
  kDownloadMemory,
  kDownloadRange,
  kDownloadFile,
  kRemove,
  kVersion,
  kPictureUpload,
  kPictureDownload,
  kCount
};

const char* KindName(Kind kind) {
  static const char* const kNames[] = {
      "upload from memory", "whole-file upload", "multipart upload", "piece-wise upload",
      "download to memory", "ranged download",   "download to file", "removal",
      "version query",      "picture upload",    "picture download"};
  return kNames[static_cast<int>(kind)];
}

// Weights of the kinds (multipart uploads are rare: 10 MiB each).
Kind PickKind(std::mt19937_64& random) {
  static const std::array<int, static_cast<int>(Kind::kCount)> kWeights = {14, 8, 1, 8, 14, 10,
                                                                           10, 8, 5, 6, 6};
  std::discrete_distribution<int> pick(kWeights.begin(), kWeights.end());
  return static_cast<Kind>(pick(random));
}

std::string RandomBytes(std::mt19937_64& random, size_t size) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(random());
  }
  return bytes;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Counts of one kind: successes verified, failures by recorded code.
struct Tally {
  int succeeded = 0;
  std::map<int32_t, int> failed;  // code (0: the picture client's false)
};

class Soak {
 public:
  Soak(Emulator& emulator, std::string dir)
      : emulator_(emulator), dir_(std::move(dir)), objects_dir_(ObjectFolder(emulator)) {}

  void RunThread(int index, uint64_t seed);
  void Print(std::ostream& out, uint64_t seed) const;
  int Accounted() const;

 private:
  // One thread's view: its clients (new for each operation, so that the
  // error state holds that operation's failure alone) and what it stored.
  struct Worker {
    std::mt19937_64 random;
    std::unique_ptr<CObjectClient> objects;
    std::unique_ptr<CPictureClient> pictures;
    std::vector<std::pair<std::string, std::string>> stored;  // url, bytes
    std::vector<std::pair<std::string, std::string>> stored_pictures;
    std::string local_dir;
  };

  static std::filesystem::path ObjectFolder(Emulator& emulator) {
    return std::filesystem::path(emulator.data_dir()) / "objects" / Emulator::pool().name;
  }
  // Runs one operation; true when it succeeded (and was verified).
  bool Run(Kind kind, Worker& worker);
  bool Upload(Worker& worker, const std::string& bytes, const std::string& path);
  bool UploadPieces(Worker& worker, const std::string& bytes);
  bool Download(Worker& worker, bool ranged);
  bool DownloadToFile(Worker& worker);
  bool Remove(Worker& worker);
  bool PictureDownload(Worker& worker);
  // A success stores the object whole: its file in the emulator's store.
  bool VerifyStored(Worker& worker, const std::string& url, const std::string& bytes);
  // What a download of a stored or generated object must hand back.
  std::pair<std::string, std::string> PickObject(Worker& worker);
  static bool SameAsSent(const std::string& received, const std::string& expected);
  void Record(Kind kind, bool ok, int32_t code);

  Emulator& emulator_;
  const std::string dir_;
  const std::filesystem::path objects_dir_;
  mutable std::mutex mutex_;
  std::map<Kind, Tally> tallies_;
};

bool Soak::SameAsSent(const std::string& received, const std::string& expected) {
  if (received == expected) {
    return true;
  }
  for (const char* replaced : kReplacedBodies) {
    if (received == replaced) {
      return true;
    }
  }
  return false;
}

bool Soak::VerifyStored(Worker& worker, const std::string& url, const std::string& bytes) {
  const std::string key = url.substr(url.rfind('/') + 1);
  const bool whole = ReadFile(objects_dir_ / key) == bytes;
  EXPECT_TRUE(whole) << "a reported upload did not store the object whole: " << url;
  if (whole) {
    worker.stored.emplace_back(url, bytes);
  }
  return whole;
}

bool Soak::Upload(Worker& worker, const std::string& bytes, const std::string& path) {
  std::string url;
  const bool ok = path.empty() ? worker.objects->UploadFile(url, bytes.data(),
                                                            static_cast<uint32_t>(bytes.size()))
                               : worker.objects->UploadFile(url, path);
  return ok && VerifyStored(worker, url, bytes);
}

bool Soak::UploadPieces(Worker& worker, const std::string& bytes) {
  std::string url;
  const size_t half = bytes.size() / 2;
  const bool ok = worker.objects->UploadFileByPiecesAloneStorage(
                      url, bytes.data(), static_cast<uint32_t>(half), false) &&
                  worker.objects->UploadFileByPiecesAloneStorage(
                      url, bytes.data() + half, static_cast<uint32_t>(bytes.size() - half), true);
  return ok && VerifyStored(worker, url, bytes);
}

std::pair<std::string, std::string> Soak::PickObject(Worker& worker) {
  if (worker.stored.empty() || worker.random() % 4 == 0) {
    return {"/" + Emulator::pool().name + "/" + GeneratedKey(kGeneratedSize, kGeneratedSeed),
            GeneratedBytes(kGeneratedSeed, 0, kGeneratedSize)};
  }
  return worker.stored[worker.random() % worker.stored.size()];
}

bool Soak::Download(Worker& worker, bool ranged) {
  const auto [url, bytes] = PickObject(worker);
  std::string range;
  std::string expected = bytes;
  if (ranged && !bytes.empty()) {
    const size_t first = worker.random() % bytes.size();
    const size_t last = first + worker.random() % (bytes.size() - first);
    range = std::to_string(first) + "-" + std::to_string(last);
    expected = bytes.substr(first, last - first + 1);
  }
  char* buffer = nullptr;
  uint32_t length = 0;
  if (!worker.objects->DownloadFile(&buffer, length, range, url)) {
    return false;
  }
  const std::string received(buffer, length);
  delete[] buffer;
  EXPECT_TRUE(SameAsSent(received, expected)) << "a download handed back other bytes: " << url;
  return SameAsSent(received, expected);
}

bool Soak::DownloadToFile(Worker& worker) {
  const auto [url, bytes] = PickObject(worker);
  const std::string path = worker.local_dir + "/download.bin";
  if (!worker.objects->DownloadFile(url, path)) {
    return false;
  }
  const std::string received = ReadFile(path);
  EXPECT_TRUE(SameAsSent(received, bytes)) << "a download left another file: " << url;
  return SameAsSent(received, bytes);
}

bool Soak::Remove(Worker& worker) {
  const size_t index = worker.random() % worker.stored.size();
  const std::string url = worker.stored[index].first;
  const bool ok = worker.random() % 2 == 0 ? worker.objects->RemoveFileByUrl(url)
                                           : worker.objects->RemoveObjectFileByUrl(url);
  if (!ok) {
    return false;
  }
  worker.stored.erase(worker.stored.begin() + static_cast<long>(index));
  const bool gone = !std::filesystem::exists(objects_dir_ / url.substr(url.rfind('/') + 1));
  EXPECT_TRUE(gone) << "a reported removal left the object: " << url;
  return gone;
}

bool Soak::PictureDownload(Worker& worker) {
  const auto& [url, bytes] =
      worker.stored_pictures[worker.random() % worker.stored_pictures.size()];
  char* buffer = nullptr;
  uint32_t length = 0;
  if (!worker.pictures->DownloadPicture(&buffer, length, url)) {
    return false;
  }
  const std::string received(buffer, length);
  delete[] buffer;
  EXPECT_TRUE(SameAsSent(received, bytes)) << "a picture download handed back other bytes";
  return SameAsSent(received, bytes);
}

bool Soak::Run(Kind kind, Worker& worker) {
  switch (kind) {
    case Kind::kUploadMemory:
      return Upload(worker, RandomBytes(worker.random, 1 + worker.random() % 65536), "");
    case Kind::kUploadFile: {
      const std::string bytes = RandomBytes(worker.random, worker.random() % 300000);
      const std::string path = worker.local_dir + "/upload.dat";
      WriteFile(path, bytes);
      return Upload(worker, bytes, path);
    }
    case Kind::kUploadMultipart: {
      const std::string path = dir_ + "/multipart.dat";
      return Upload(worker, ReadFile(path), path);
    }
    case Kind::kPieces:
      return UploadPieces(worker, RandomBytes(worker.random, 2 + worker.random() % 100000));
    case Kind::kDownloadMemory:
      return Download(worker, false);
    case Kind::kDownloadRange:
      return Download(worker, true);
    case Kind::kDownloadFile:
      return DownloadToFile(worker);
    case Kind::kRemove:
      return Remove(worker);
    case Kind::kVersion: {
      std::string version;
      if (!worker.objects->GetStorageVersion(version, emulator_.VersionServer())) {
        return false;
      }
      EXPECT_FALSE(version.empty());
      return !version.empty();
    }
    case Kind::kPictureUpload: {
      const std::string bytes = "\xff\xd8" + RandomBytes(worker.random, worker.random() % 50000);
      std::string url;
      if (!worker.pictures->UploadPicture(url, bytes.data(), static_cast<uint32_t>(bytes.size()))) {
        return false;
      }
      const std::filesystem::path file = std::filesystem::path(emulator_.data_dir()) / "pictures" /
                                         Emulator::pool().name / url.substr(url.rfind('/') + 1);
      EXPECT_EQ(ReadFile(file), bytes) << "a reported picture upload stored other bytes";
      worker.stored_pictures.emplace_back(url, bytes);
      return true;
    }
    case Kind::kPictureDownload:
      return PictureDownload(worker);
    case Kind::kCount:
      break;
  }
  return false;
}

void Soak::Record(Kind kind, bool ok, int32_t code) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Tally& tally = tallies_[kind];
  if (ok) {
    ++tally.succeeded;
  } else {
    ++tally.failed[code];
  }
}

void Soak::RunThread(int index, uint64_t seed) {
  Worker worker;
  worker.random.seed(seed + static_cast<uint64_t>(index));
  worker.local_dir = dir_ + "/thread" + std::to_string(index);
  std::filesystem::create_directories(worker.local_dir);
  for (int i = 0; i < kOperationsPerThread; ++i) {
    worker.objects = std::make_unique<CObjectClient>(emulator_.ObjectConfig());
    worker.objects->SetTimeoutConfig(kClientTimeoutMs, kClientTimeoutMs);
    worker.pictures = std::make_unique<CPictureClient>(emulator_.PictureConfig());
    Kind kind = PickKind(worker.random);
    if (kind == Kind::kRemove && worker.stored.empty()) {
      kind = Kind::kUploadMemory;  // nothing to remove yet
    } else if (kind == Kind::kPictureDownload && worker.stored_pictures.empty()) {
      kind = Kind::kPictureUpload;
    }
    const bool picture = kind == Kind::kPictureUpload || kind == Kind::kPictureDownload;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = Run(kind, worker);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kOperationBound) << KindName(kind);
    int32_t code = 0;
    std::string message;
    if (!ok && !picture) {
      worker.objects->GetLastError(code, message);
      // The client is new: its error state holds this operation's failure.
      EXPECT_GE(code, 2) << KindName(kind) << " failed without a code";
    }
    Record(kind, ok, code);
  }
}

int Soak::Accounted() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  int total = 0;
  for (const auto& [kind, tally] : tallies_) {
    total += tally.succeeded;
    for (const auto& [code, count] : tally.failed) {
      total += count;
    }
  }
  return total;
}

void Soak::Print(std::ostream& out, uint64_t seed) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  out << "soak: seed " << seed << ", " << kThreads << " threads x " << kOperationsPerThread
      << " operations, fault probability " << kFaultProbability << " per request\n";
  int succeeded = 0;
  int failed = 0;
  for (const auto& [kind, tally] : tallies_) {
    out << "  " << KindName(kind) << ": " << tally.succeeded << " succeeded and verified";
    succeeded += tally.succeeded;
    for (const auto& [code, count] : tally.failed) {
      out << ", " << count
          << (code == 0 ? " failed (false)" : " failed with code " + std::to_string(code));
      failed += count;
    }
    out << "\n";
  }
  out << "soak: " << succeeded + failed << " operations: " << succeeded
      << " succeeded and verified, " << failed
      << " failed with a code (false for the picture client)\n";
}

uint64_t SoakSeed() {
  const char* text = std::getenv("ORCA_SOAK_SEED");
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : kDefaultSeed;
}

TEST(SoakTest, EightThreadsWithRandomFaults) {
  const uint64_t seed = SoakSeed();
  std::cout << "soak: random fault seed " << seed << " (ORCA_SOAK_SEED to replay)" << std::endl;
  Emulator emulator;
  const std::string dir = emulator.data_dir() + "/../soak";
  std::filesystem::create_directories(dir);
  std::mt19937_64 random(seed);
  WriteFile(dir + "/multipart.dat", RandomBytes(random, kMultipartSize));

  EmulatorFault parameters;  // for the kinds drawn
  parameters.status = 503;
  parameters.delay_ms = 300;
  parameters.header = "Content-Length";
  parameters.size = 1 << 20;
  emulator.SetRandomFaults(seed, kFaultProbability,
                           {"reset", "reset_mid_body", "status", "not_enough_space", "huge_body",
                            "short_body", "chunked", "malformed", "empty", "missing_header",
                            "bad_location", "loop_location", "delay", "stall"},
                           parameters);
  Soak soak(emulator, dir);
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&soak, t, seed] { soak.RunThread(t, seed); });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  emulator.ClearFaults();
  soak.Print(std::cout, seed);
  EXPECT_EQ(soak.Accounted(), kThreads * kOperationsPerThread);
}

}  // namespace
}  // namespace orca_test

#include "Operations.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

namespace bench {
namespace {

// Fails `result` with the client's last error, prefixed by `what`.
OpResult& Fail(OpResult& result, CObjectClient& client, const std::string& what) {
  int32_t code = 0;
  int32_t subcode = 0;
  std::string message;
  client.GetLastError(code, subcode, message);
  result.ok = false;
  result.error = what + " failed: code " + std::to_string(code) + ", subcode " +
                 std::to_string(subcode) + ", " + message;
  return result;
}

OpResult& FailWith(OpResult& result, const std::string& why) {
  result.ok = false;
  result.error = why;
  return result;
}

// Fails `result`: `what` delivered `got` bytes instead of `expected`.
OpResult& FailWithSize(OpResult& result, const std::string& what, uint64_t got, uint64_t expected) {
  std::ostringstream why;
  why << what << " delivered " << got << " bytes, not " << expected;
  return FailWith(result, why.str());
}

// Removes every object in `urls` (between timed sections).
bool RemoveAll(CObjectClient& client, const std::vector<std::string>& urls, OpResult& result) {
  for (const std::string& url : urls) {
    if (!client.RemoveFileByUrl(url)) {
      Fail(result, client, "remove " + url);
      return false;
    }
  }
  return true;
}

// Takes ownership of a buffer handed back by a memory download.
using Download = std::unique_ptr<char[]>;

}  // namespace

OpResult RoundTrips(CObjectClient& client, const std::string& data, uint64_t count) {
  OpResult result;
  const auto size = static_cast<uint32_t>(data.size());
  Stopwatch watch;
  for (uint64_t i = 0; i < count; ++i) {
    std::string url;
    char* buffer = nullptr;
    uint32_t length = 0;
    watch.Start();
    const bool uploaded = client.UploadFile(url, data.data(), size);
    const bool downloaded = uploaded && client.DownloadFile(&buffer, length, url);
    watch.Stop();
    const Download owned(buffer);
    if (!downloaded) {
      return Fail(result, client, uploaded ? "download " + url : "upload");
    }
    if (length != size || std::memcmp(buffer, data.data(), size) != 0) {
      return FailWith(result, "download " + url + " returned other bytes");
    }
    ++result.count;
    result.bytes += 2ULL * size;
    result.seconds = watch.Seconds();
    result.url = url;
  }
  return result;
}

OpResult PutMemory(CObjectClient& client, const std::string& data, uint64_t repeat, bool remove) {
  OpResult result;
  Stopwatch watch;
  for (uint64_t i = 0; i < repeat; ++i) {
    std::string url;
    watch.Start();
    const bool ok = client.UploadFile(url, data.data(), static_cast<uint32_t>(data.size()));
    watch.Stop();
    if (!ok) {
      return Fail(result, client, "upload");
    }
    ++result.count;
    result.bytes += data.size();
    result.seconds = watch.Seconds();
    result.url = url;
    if (remove && !RemoveAll(client, {url}, result)) {
      return result;
    }
  }
  return result;
}

OpResult GetMemory(CObjectClient& client, const std::string& url, uint64_t expected_size,
                   uint64_t repeat) {
  OpResult result;
  Stopwatch watch;
  for (uint64_t i = 0; i < repeat; ++i) {
    char* buffer = nullptr;
    uint32_t length = 0;
    watch.Start();
    const bool ok = client.DownloadFile(&buffer, length, url);
    watch.Stop();
    const Download owned(buffer);
    if (!ok) {
      return Fail(result, client, "download " + url);
    }
    if (length != expected_size) {
      return FailWithSize(result, "download of " + url, length, expected_size);
    }
    ++result.count;
    result.bytes += length;
    result.seconds = watch.Seconds();
  }
  return result;
}

OpResult PutFile(CObjectClient& client, const std::string& path, uint64_t parallel, uint64_t repeat,
                 bool remove, const LogWatch& log_watch) {
  OpResult result;
  std::error_code error;
  const uint64_t size = std::filesystem::file_size(path, error);
  if (error) {
    return FailWith(result, path + ": " + error.message());
  }
  Stopwatch watch;
  for (uint64_t round = 0; round < repeat; ++round) {
    std::vector<std::string> urls(parallel);
    std::vector<char> done(parallel, 0);
    std::vector<std::thread> threads;
    watch.Start();
    for (uint64_t i = 0; i < parallel; ++i) {
      threads.emplace_back([&urls, &done, &path, i, copy = client]() mutable {
        done[i] = copy.UploadFile(urls[i], path) ? 1 : 0;
      });
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
    const Stopwatch::Clock::time_point stopped = watch.Stop();
    const Stopwatch::Clock::time_point completion = log_watch.LastCompletionSent();
    if (parallel == 1 && completion > watch.started()) {
      result.completion_seconds += std::chrono::duration<double>(stopped - completion).count();
    }
    for (uint64_t i = 0; i < parallel; ++i) {
      if (done[i] == 0) {
        return Fail(result, client, "upload of " + path);
      }
    }
    result.count += parallel;
    result.bytes += parallel * size;
    result.seconds = watch.Seconds();
    result.url = urls.back();
    if (remove && !RemoveAll(client, urls, result)) {
      return result;
    }
  }
  return result;
}

OpResult GetFile(CObjectClient& client, const std::string& url, const std::string& out,
                 uint64_t expected_size, uint64_t repeat) {
  OpResult result;
  Stopwatch watch;
  for (uint64_t i = 0; i < repeat; ++i) {
    watch.Start();
    const bool ok = client.DownloadFile(url, out);
    watch.Stop();
    if (!ok) {
      return Fail(result, client, "download " + url);
    }
    std::error_code error;
    const uint64_t size = std::filesystem::file_size(out, error);
    if (error || size != expected_size) {
      return FailWithSize(result, "download into " + out, size, expected_size);
    }
    ++result.count;
    result.bytes += size;
    result.seconds = watch.Seconds();
  }
  return result;
}

}  // namespace bench

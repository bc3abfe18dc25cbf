// download_probe: downloads one object to a file through CObjectClient and
// reports what it cost, for the memory test and the download benchmark:
//
//   DOWNLOAD ok=1 bytes=<file size> seconds=<wall time> peak_growth_kib=<n>
//
// peak_growth_kib is how far the download raised the process's peak resident
// set (VmHWM) above its value just before the call. Exit status 0 on success.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "OrcaCloudStorage/StorageClient.h"

namespace {

// VmHWM of /proc/self/status, in KiB.
long PeakRssKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

int Run(int argc, char** argv) {
  Orca::CloudStorage::SStorageServerConfig config;
  std::string url;
  std::string out;
  bool quiet = false;
  CLI::App app("Downloads one object to a file and reports time and peak memory growth");
  app.add_option("--ip", config.ip)->default_val("127.0.0.1");
  app.add_option("--upload-port", config.upload_port)->required();
  app.add_option("--download-port", config.download_port)->required();
  app.add_option("--pool", config.pool_name)->required();
  app.add_option("--ak", config.ak)->required();
  app.add_option("--sk", config.sk)->required();
  app.add_flag("--https", config.use_https);
  app.add_option("--url", url, "Object URL: /pool/key")->required();
  app.add_option("--out", out, "Local file")->required();
  app.add_flag("--quiet", quiet, "No log records on standard error");
  CLI11_PARSE(app, argc, argv);

  if (quiet) {
    Orca::CloudStorage::SetLogSink([](int, const char*, const char*, void*) {}, nullptr);
  }
  Orca::CloudStorage::CObjectClient client(config);
  const long peak_before = PeakRssKib();
  const auto start = std::chrono::steady_clock::now();
  const bool ok = client.DownloadFile(url, out);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  const long peak_after = PeakRssKib();

  std::error_code ignored;
  const auto bytes = ok ? std::filesystem::file_size(out, ignored) : 0;
  int32_t code = 0;
  int32_t subcode = 0;
  std::string message;
  client.GetLastError(code, subcode, message);
  std::printf("DOWNLOAD ok=%d bytes=%llu seconds=%.6f peak_growth_kib=%ld code=%d subcode=%d\n",
              ok ? 1 : 0, static_cast<unsigned long long>(bytes), elapsed.count(),
              peak_after - peak_before, code, subcode);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "download_probe: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "download_probe: unknown exception\n");
  }
  return 2;
}

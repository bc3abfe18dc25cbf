// Whole-file upload of a 256 MiB file through ocs-emulator against curl's
// single PUT of the same file to the same emulator, in the same run. The
// emulator runs with --no-auth so that curl needs no signature; the library
// still computes every part's Content-MD5. The library's run also reports
// how much the upload raised the peak resident memory over the baseline.
//
//   ORCA_EMULATOR=build/release/emulator/ocs-emulator build/release/bench/UploadBench
//
// Without ORCA_EMULATOR the emulator is taken from ../emulator/ocs-emulator
// beside this executable's folder (the layout of a build tree).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "OrcaCloudStorage/StorageClient.h"

namespace {

constexpr uint64_t kFileSize = uint64_t{256} << 20;

// A line "Name:   1234 kB" of /proc/self/status, in MiB.
double StatusMiB(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name + ":", 0) == 0) {
      return std::stod(line.substr(name.size() + 1)) / 1024.0;
    }
  }
  return 0;
}

// Lets the next VmHWM reading start from the current resident size.
void ResetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }

int JsonInt(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\":");
  if (at == std::string::npos) throw std::runtime_error("no " + key + " in " + json);
  return std::atoi(json.c_str() + at + key.size() + 3 + (json[at + key.size() + 3] == '[' ? 1 : 0));
}

// ocs-emulator as a child process, stopped with SIGTERM on destruction.
class EmulatorProcess {
 public:
  EmulatorProcess(const std::string& binary, const std::string& data_dir) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      execl(binary.c_str(), binary.c_str(), "--no-auth", "--data-dir", data_dir.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    FILE* stream = fdopen(out[0], "r");
    char line[4096] = {};
    if (pid_ < 0 || fgets(line, sizeof line, stream) == nullptr) {
      throw std::runtime_error("cannot start " + binary);
    }
    fclose(stream);
    const std::string endpoints = line;
    upload_port_ = JsonInt(endpoints, "upload");
    node_port_ = JsonInt(endpoints, "nodes");
  }
  ~EmulatorProcess() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  int upload_port() const { return upload_port_; }
  int node_port() const { return node_port_; }

 private:
  pid_t pid_ = -1;
  int upload_port_ = 0;
  int node_port_ = 0;
};

struct Setup {
  std::string file;
  EmulatorProcess* emulator = nullptr;
  double library_seconds = 0;
  double curl_seconds = 0;
  int library_runs = 0;
  int curl_runs = 0;
};
Setup g_setup;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void BM_LibraryUploadFile(benchmark::State& state) {
  Orca::CloudStorage::SStorageServerConfig config;
  config.ip = "127.0.0.1";
  config.upload_port = static_cast<uint32_t>(g_setup.emulator->upload_port());
  config.download_port = config.upload_port;
  config.pool_name = "pool1";
  config.ak = "ocs-ak";
  config.sk = "ocs-sk";
  Orca::CloudStorage::CObjectClient client(config);
  const double baseline = StatusMiB("VmRSS");
  ResetPeakRss();
  while (state.KeepRunning()) {
    const auto start = std::chrono::steady_clock::now();
    std::string url;
    if (!client.UploadFile(url, g_setup.file)) {
      state.SkipWithError("upload failed");
      return;
    }
    g_setup.library_seconds += Seconds(start);
    ++g_setup.library_runs;
  }
  state.counters["peak_rss_over_baseline_MiB"] = StatusMiB("VmHWM") - baseline;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_CurlSinglePut(benchmark::State& state) {
  int n = 0;
  while (state.KeepRunning()) {
    const std::string command =
        "curl -sS -f -o /dev/null -T '" + g_setup.file +
        "' http://127.0.0.1:" + std::to_string(g_setup.emulator->node_port()) + "/pool1/curl-" +
        std::to_string(n++) + ".bin";
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("curl failed");
      return;
    }
    g_setup.curl_seconds += Seconds(start);
    ++g_setup.curl_runs;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

BENCHMARK(BM_CurlSinglePut)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_LibraryUploadFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void WriteRandomFile(const std::string& path) {
  std::mt19937_64 generator(256);
  std::vector<uint64_t> chunk((1 << 20) / sizeof(uint64_t));
  std::ofstream out(path, std::ios::binary);
  for (uint64_t written = 0; written < kFileSize; written += 1 << 20) {
    for (uint64_t& word : chunk) word = generator();
    out.write(reinterpret_cast<const char*>(chunk.data()), 1 << 20);
  }
}

// A folder under /tmp, removed with its contents.
struct ScratchDir {
  ScratchDir() {
    char pattern[] = "/tmp/orca-upload-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    path = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

// Runs both benchmarks against one emulator; prints the throughput ratio.
int Run() {
  const char* configured = std::getenv("ORCA_EMULATOR");
  const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
  const std::string binary =
      configured ? configured
                 : (self.parent_path().parent_path() / "emulator/ocs-emulator").string();
  const ScratchDir dir;
  g_setup.file = dir.path + "/file.bin";
  WriteRandomFile(g_setup.file);
  {
    EmulatorProcess emulator(binary, dir.path + "/data");
    g_setup.emulator = &emulator;
    benchmark::RunSpecifiedBenchmarks();
    g_setup.emulator = nullptr;
  }
  if (g_setup.library_runs == 0 || g_setup.curl_runs == 0) return 1;
  const double library = g_setup.library_runs * kFileSize / g_setup.library_seconds;
  const double curl = g_setup.curl_runs * kFileSize / g_setup.curl_seconds;
  std::printf("upload throughput: library %.0f MiB/s, curl %.0f MiB/s, ratio %.2f\n",
              library / (1 << 20), curl / (1 << 20), library / curl);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  int status = 1;
  try {
    status = Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "UploadBench: %s\n", e.what());
  }
  benchmark::Shutdown();
  return status;
}

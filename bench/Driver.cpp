// bench_driver: performs one kind of library operation (or a loop of them)
// against a running service and prints one RESULT line (see Measure.h) for
// bench/run to collect. Exit status 0 when every operation succeeded.
//
//   bench_driver [connection options] roundtrip --size 1024 --count 200
//   bench_driver ... put-mem  --size 33554432 [--repeat N] [--remove]
//   bench_driver ... get-mem  --url /pool/key --size 33554432 [--repeat N]
//   bench_driver ... put-file --path FILE [--parallel N] [--concurrency N] [--repeat N]
//                             [--remove]
//   bench_driver ... get-file --url /pool/key --out FILE --size N [--concurrency N]
//                             [--repeat N]
//
// --concurrency sets the client's transfer concurrency (part workers of a
// multipart upload, ranges in flight of a ranged download); without it the
// library's default holds.
// --trace writes every log record of the library to standard error with the
// milliseconds since the start, to see where the time of a call goes.
// put-file also reports how long the completion requests of multipart
// uploads took (the service assembling the object from its parts).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <random>
#include <string>

#include "LogWatch.h"
#include "Measure.h"
#include "Operations.h"
#include "OrcaCloudStorage/StorageClient.h"

namespace {

using Orca::CloudStorage::CObjectClient;
using Orca::CloudStorage::SStorageServerConfig;

// Options of every subcommand; each reads the ones it needs.
struct Arguments {
  uint64_t size = 0;
  uint64_t count = 1;
  uint64_t repeat = 1;
  uint64_t parallel = 1;
  uint32_t concurrency = 0;  // 0: the library's default
  bool remove = false;
  std::string url;
  std::string path;
  std::string out;
};

// `size` pseudo-random bytes (the same every run).
std::string MakeData(uint64_t size) {
  std::string data(size, '\0');
  std::mt19937_64 generator(42);
  for (char& c : data) {
    c = static_cast<char>(generator());
  }
  return data;
}

void AddConnectionOptions(CLI::App& app, SStorageServerConfig& config) {
  app.add_option("--ip", config.ip, "Service address")->default_val("127.0.0.1");
  app.add_option("--upload-port", config.upload_port)->required();
  app.add_option("--download-port", config.download_port)->required();
  app.add_option("--pool", config.pool_name)->required();
  app.add_option("--ak", config.ak)->required();
  app.add_option("--sk", config.sk)->required();
  app.add_flag("--https", config.use_https, "Speak HTTPS (trust ORCA_CS_CA_BUNDLE)");
}

CLI::App* AddCommand(CLI::App& app, const char* name, const char* about, Arguments& a) {
  CLI::App* command = app.add_subcommand(name, about);
  command->add_option("--repeat", a.repeat, "Operations in a row")->capture_default_str();
  return command;
}

void AddConcurrencyOption(CLI::App& command, Arguments& a) {
  command.add_option("--concurrency", a.concurrency, "Transfers in flight per operation")
      ->check(CLI::Range(1, 16));
}

int Run(int argc, char** argv) {
  SStorageServerConfig config;
  Arguments a;
  CLI::App app("Times library operations against a running service");
  AddConnectionOptions(app, config);
  bool trace = false;
  app.add_flag("--trace", trace, "Log every library record, time-stamped, to standard error");
  app.require_subcommand(1);

  CLI::App* roundtrip = app.add_subcommand("roundtrip", "Upload from memory, then download");
  roundtrip->add_option("--size", a.size, "Object size in bytes")->required();
  roundtrip->add_option("--count", a.count, "Round trips")->capture_default_str();
  CLI::App* put_mem = AddCommand(app, "put-mem", "Upload from memory", a);
  put_mem->add_option("--size", a.size, "Object size in bytes")->required();
  put_mem->add_flag("--remove", a.remove, "Remove each object after its upload");
  CLI::App* get_mem = AddCommand(app, "get-mem", "Download to memory", a);
  get_mem->add_option("--url", a.url, "Object URL")->required();
  get_mem->add_option("--size", a.size, "Expected object size in bytes")->required();
  CLI::App* put_file = AddCommand(app, "put-file", "Whole-file upload", a);
  put_file->add_option("--path", a.path, "Local file")->required();
  put_file->add_option("--parallel", a.parallel, "Uploads at once")->capture_default_str();
  put_file->add_flag("--remove", a.remove, "Remove the objects after each round");
  AddConcurrencyOption(*put_file, a);
  CLI::App* get_file = AddCommand(app, "get-file", "Download to a file", a);
  get_file->add_option("--url", a.url, "Object URL")->required();
  get_file->add_option("--out", a.out, "Local file")->required();
  get_file->add_option("--size", a.size, "Expected object size in bytes")->required();
  AddConcurrencyOption(*get_file, a);
  CLI11_PARSE(app, argc, argv);
  const bench::LogWatch log_watch(trace);

  CObjectClient client(config);
  client.Init();
  if (a.concurrency != 0 && !client.SetTransferConcurrency(a.concurrency)) {
    std::fprintf(stderr, "bench_driver: transfer concurrency %u refused\n", a.concurrency);
    return 2;
  }
  // Inputs are made before the baseline of processor time and memory.
  const std::string data = put_mem->parsed() || roundtrip->parsed() ? MakeData(a.size) : "";
  const bench::Baseline before;
  bench::OpResult result;
  if (roundtrip->parsed()) {
    result = bench::RoundTrips(client, data, a.count);
  } else if (put_mem->parsed()) {
    result = bench::PutMemory(client, data, a.repeat, a.remove);
  } else if (get_mem->parsed()) {
    result = bench::GetMemory(client, a.url, a.size, a.repeat);
  } else if (put_file->parsed()) {
    result = bench::PutFile(client, a.path, a.parallel, a.repeat, a.remove, log_watch);
  } else {
    result = bench::GetFile(client, a.url, a.out, a.size, a.repeat);
  }
  bench::PrintResult(app.get_subcommands().front()->get_name(), result, before);
  if (!result.ok) {
    std::fprintf(stderr, "bench_driver: %s\n", result.error.c_str());
  }
  return result.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_driver: %s\n", e.what());
  }
  return 2;
}

// Content-MD5 of this library against OpenSSL's MD5 over the same buffers.
// Compare the bytes_per_second of the two families in one run.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <string>

#include "StorageClient/wire/Md5.h"

namespace {

const std::string& Buffer(size_t size) {
  static std::string data;
  if (data.size() < size) {
    std::mt19937_64 gen(42);
    data.resize(size);
    for (char& c : data) c = static_cast<char>(gen());
  }
  return data;
}

void BM_OurContentMd5(benchmark::State& state) {
  const auto size = static_cast<uint32_t>(state.range(0));
  const std::string& data = Buffer(size);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Orca::CloudStorage::MakeContentMd5(data.data(), size));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

void BM_OpenSslMd5(benchmark::State& state) {
  const auto size = static_cast<size_t>(state.range(0));
  const std::string& data = Buffer(size);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_size = 0;
  for (auto _ : state) {
    EVP_Digest(data.data(), size, digest, &digest_size, EVP_md5(), nullptr);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

constexpr int64_t kTwoMiB = 2 << 20;
constexpr int64_t kThirtyTwoMiB = 32 << 20;

BENCHMARK(BM_OurContentMd5)->Arg(kTwoMiB)->Arg(kThirtyTwoMiB);
BENCHMARK(BM_OpenSslMd5)->Arg(kTwoMiB)->Arg(kThirtyTwoMiB);

}  // namespace

BENCHMARK_MAIN();

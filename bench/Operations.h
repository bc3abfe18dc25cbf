// The library operations bench_driver times, each through the public API of
// a CObjectClient. Every function stops at the first failure and says why in
// OpResult::error (the client's last error).
#ifndef ORCA_BENCH_OPERATIONS_H_
#define ORCA_BENCH_OPERATIONS_H_

#include <cstdint>
#include <string>

#include "LogWatch.h"
#include "Measure.h"
#include "OrcaCloudStorage/StorageClient.h"

namespace bench {

using Orca::CloudStorage::CObjectClient;

// `count` round trips: upload `data` from memory (best node + PUT), then
// download it to memory; the bytes that come back must equal `data`.
OpResult RoundTrips(CObjectClient& client, const std::string& data, uint64_t count);

// `repeat` uploads of `data` from memory. With `remove`, each object is
// removed after its upload (not timed).
OpResult PutMemory(CObjectClient& client, const std::string& data, uint64_t repeat, bool remove);

// `repeat` downloads of `url` to memory; each must be `expected_size` bytes.
OpResult GetMemory(CObjectClient& client, const std::string& url, uint64_t expected_size,
                   uint64_t repeat);

// `repeat` rounds of `parallel` whole-file uploads of `path` at once, each on
// its own thread with a copy of `client`. `seconds` is the wall time of the
// rounds; for single uploads `completion_seconds` is the part of it from
// each completion request (seen by `watch`) to the end of the call. With
// `remove`, the objects are removed after each round (not timed).
OpResult PutFile(CObjectClient& client, const std::string& path, uint64_t parallel, uint64_t repeat,
                 bool remove, const LogWatch& watch);

// `repeat` downloads of `url` into the file `out`, which must end up
// `expected_size` bytes long.
OpResult GetFile(CObjectClient& client, const std::string& url, const std::string& out,
                 uint64_t expected_size, uint64_t repeat);

}  // namespace bench

#endif  // ORCA_BENCH_OPERATIONS_H_

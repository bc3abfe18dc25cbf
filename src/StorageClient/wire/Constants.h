// Fixed sizes, counts and time-outs of the protocol, in one place.
#ifndef ORCA_CS_CONSTANTS_H_
#define ORCA_CS_CONSTANTS_H_

#include <cstddef>
#include <cstdint>

namespace Orca {
namespace CloudStorage {

inline constexpr uint32_t kMiB = 1024 * 1024;

// Largest buffer uploaded from memory (objects, single pieces, pictures).
inline constexpr uint32_t kMaxMemoryUploadSize = 32 * kMiB;
// The largest object a memory download hands back: its buffer holds one
// byte more than the 32-bit length.
inline constexpr uint64_t kMaxMemoryDownloadSize = UINT32_MAX - 1;
// A memory download's body goes straight into the caller's buffer when its
// answer announces at most this length; a longer one grows as it arrives.
// Either way no more is committed up front.
inline constexpr uint64_t kMaxDirectBodySize = uint64_t{64} * kMiB;
// Files of this size and more are uploaded in parts.
inline constexpr uint32_t kMultipartThreshold = 10 * kMiB;
inline constexpr uint32_t kPartSize = 2 * kMiB;
// Files of this size and more are refused: part sizes and counts are 32-bit.
inline constexpr uint64_t kMaxUploadFileSize = uint64_t{4096} * kMiB;
// Over HTTPS, objects of this size and more are downloaded in ranges.
inline constexpr uint64_t kRangedDownloadThreshold = uint64_t{10} * kMiB;
inline constexpr uint32_t kRangeSize = 1 * kMiB;

// Ranges of a ranged download, and part workers of a whole-file upload, in
// flight at once (CObjectClient::SetTransferConcurrency).
inline constexpr uint32_t kDefaultTransferConcurrency = 4;
inline constexpr uint32_t kMaxTransferConcurrency = 16;
// A whole-file upload's pool runs `concurrency` workers, growing past the
// minimum when this many more tasks than workers wait (Start(4, 4, 5) by
// default); the uploading thread waits while more than that many part tasks
// are unfinished.
inline constexpr int kPartTasksBeyondWorkers = 1;
inline constexpr uint32_t kThrottleWaitMs = 50;
inline constexpr uint32_t kFinalWaitMs = 500;
inline constexpr int kPartUploadAttempts = 3;
// The longest wait between two tries of a request (SetRetryPolicy).
inline constexpr uint32_t kMaxRetryDelayMs = 10000;

inline constexpr uint32_t kDefaultTimeoutMs = 15000;
inline constexpr int kFinishPartTaskTimeoutMs = 60000;

// The content type of the requests that expect an XML answer.
inline constexpr char kXmlContentType[] = "application/xml; charset=utf-8";

// Server bodies copied into log records and error messages are cut here.
inline constexpr size_t kMaxQuotedBody = 4096;

// Subcodes of a download to a file that failed locally.
inline constexpr int32_t kOpenFailedBase = 1000000;
inline constexpr int32_t kNoOpenFile = -1001;
inline constexpr int32_t kWriteFailed = -1002;

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_CONSTANTS_H_

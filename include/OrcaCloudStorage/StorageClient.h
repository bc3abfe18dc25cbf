/// \file
/// Client library for the object-storage service and its picture gateway.
///
/// Two classes do the work:
/// - CObjectClient stores objects (from memory, from a file, or piece by
///   piece), fetches them (into memory, by byte range, or into a file),
///   removes them and reads the service's version.
/// - CPictureClient stores JPEG pictures through the picture gateway and
///   fetches them back.
///
/// The usage page (docs/Usage.md) covers configuration, errors, threads,
/// buffers, retries and cancellation.
///
/// Failures are reported by a false result, never by exceptions.
/// CObjectClient also records the last failure (code, subcode, message) for
/// GetLastError; CPictureClient keeps no error state (see its log records).
///
/// Thread safety: every member may be called from any thread, and copies of a
/// client may be used from several threads at once. Copies share one
/// configuration, one error state, one pair of time-outs, one transfer
/// concurrency, one retry policy and one cancellation.

#ifndef ORCA_CLOUD_STORAGE_STORAGE_CLIENT_H_
#define ORCA_CLOUD_STORAGE_STORAGE_CLIENT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The version of this header; CMake checks it against the project's version.
#define ORCA_CS_VERSION_MAJOR 1         ///< Major version of this header (the SONAME's number)
#define ORCA_CS_VERSION_MINOR 0         ///< Minor version of this header
#define ORCA_CS_VERSION_PATCH 0         ///< Patch version of this header
#define ORCA_CS_VERSION_STRING "1.0.0"  ///< "MAJOR.MINOR.PATCH" of this header

/// Marks the declarations the shared library exports.
#if defined(_WIN32)
#if defined(ORCA_CS_BUILDING_LIBRARY)
#define ORCA_CS_API __declspec(dllexport)
#else
#define ORCA_CS_API __declspec(dllimport)
#endif
#else
#define ORCA_CS_API __attribute__((visibility("default")))
#endif

/// Orca's libraries.
namespace Orca {
/// The client library for the object-storage service and its picture gateway.
namespace CloudStorage {

/// Handed to SStorageServerConfig::progress_callback.
struct SProgressInfo {
  uint64_t reserved = 0;   ///< always 0
  int32_t percent = 0;     ///< 1 to 100, rising within one operation
  uint64_t user_data = 0;  ///< SStorageServerConfig::user_data
};

/// Everything a client needs to reach the service. Copied into the client.
struct SStorageServerConfig {
  bool use_https = false;      ///< "https://" base URLs when true
  uint32_t upload_port = 0;    ///< uploads, removals; also the Host header's port
  uint32_t download_port = 0;  ///< downloads
  std::string pool_name;       ///< storage pool: first path segment of every object
  std::string ip;              ///< server address, written unchanged into URLs
  std::string ak;              ///< access key, sent in clear
  std::string sk;              ///< secret key, only used to sign; never sent or logged
  /// Called with rising percentages during whole-file uploads and downloads to a
  /// file, on the thread doing the work. Must not block for long.
  std::function<void(const SProgressInfo&)> progress_callback;
  uint64_t user_data = 0;  ///< copied into every SProgressInfo
};

/// Address and keys of a server queried by CObjectClient::GetStorageVersion.
struct SStorageServerInfo {
  std::string ip;     ///< server address
  uint32_t port = 0;  ///< its port
  std::string ak;     ///< access key
  std::string sk;     ///< secret key, only used to sign
};

/// Receives every log record of the library: level 2 request traces, 3 success
/// lines, 4 retries and warnings, 5 failures. `message` is the formatted record; `module` names the
/// component. Called on the thread that logs; must be thread-safe.
using LogSink = void (*)(int level, const char* module, const char* message, void* context);

/// Installs `sink` for all later records (nullptr restores the default sink,
/// which writes to standard error the records at or above the level named by
/// the ORCA_CS_LOG_LEVEL environment variable, 5 when unset).
ORCA_CS_API void SetLogSink(LogSink sink, void* context);

/// The version of the loaded library, "MAJOR.MINOR.PATCH". A host runs with
/// any library of the major version it was built against (the SONAME's) and a
/// minor version at least that of its header (ORCA_CS_VERSION_STRING).
ORCA_CS_API const char* GetLibraryVersion();

struct ObjectImpl;
class CallControl;

/// Object-storage client. Objects are addressed by the URL an upload returns:
/// "/" pool "/" key, always resolved against this client's own address.
///
/// Error codes read with GetLastError:
/// \verbatim
///   2 invalid configuration or argument    6 unusable redirect Location
///   3 local file open/size/read/write      7 upload refused for lack of space
///   4 transport failure ("[major:minor]")  8 NoSuchBucket
///   5 unexpected status or answer body     9 NoSuchKey
///                                         10 "cancelled" (see Cancel)
/// \endverbatim
/// A later success does not clear the recorded failure. What each operation
/// records:
/// \verbatim
///   uploads from memory and pieces   2 (size over 32 MiB, a byte that cannot
///                                    stand in a request), 4, 5, 7
///   UploadFile from a file           2 (empty path), 3 (open, size of 4 GiB
///                                    or more, read, worker pool), 4, 5, 7
///   DownloadFile into memory         2 (range or URL bytes), 4, 5 (any other
///                                    status, 2xx included, a redirected
///                                    answer other than 200, a body short or
///                                    too long), 6, 8 and 9 (first answer only)
///   DownloadFile into a file,        4, 5 with the HTTP status as subcode
///   streamed (HTTP; HTTPS under      (NoSuchKey is 5 with subcode 404), 5
///   10 MiB or of unknown size)       with subcode 1000000 + errno when the
///                                    file cannot be opened, 3 with subcode
///                                    -1001 or -1002 when it cannot be
///                                    written, 6
///   DownloadFile into a file,        4, 5 (status, a range answer short or
///   ranged (HTTPS, 10 MiB and more)  too long), 6, 8, 9, 3 with subcode
///                                    1000000 + errno or -1002 for the file
///   RemoveFileByUrl, RemoveObject-   2 (URL bytes), 4, 5
///   FileByUrl, GetStorageVersion
/// \endverbatim
class ORCA_CS_API CObjectClient {
 public:
  /// Copies `config`; validates nothing (see Init).
  explicit CObjectClient(const SStorageServerConfig& config);
  /// Copies share configuration, error state, time-outs, transfer
  /// concurrency, retry policy and cancellation.
  CObjectClient(const CObjectClient& other);
  /// Shares all of these with `other`.
  CObjectClient& operator=(const CObjectClient& other);
  /// The shared state goes with the last copy.
  ~CObjectClient();

  /// Checks the configuration: keys, address and pool non-empty (code 2), both
  /// ports non-zero (code 2). Operations do not require a successful Init.
  bool Init();
  /// Always true; releases nothing.
  bool Uninit();

  /// The last recorded failure: code 0 and an empty message when none.
  void GetLastError(int32_t& code, std::string& msg);
  /// Also the subcode of the last failure that carried one (downloads to a
  /// file: an HTTP status, 1000000 + errno, -1001, -1002, or a transport error).
  void GetLastError(int32_t& code, int32_t& subcode, std::string& msg);

  /// Receive and send time-outs in milliseconds for downloads (15000 each by
  /// default; 0 means the HTTP component's default).
  void SetTimeoutConfig(uint32_t receive_timeout, uint32_t send_timeout);

  /// How many transfers one operation keeps in flight at once: the 1 MiB
  /// ranges of a ranged download to a file (each on a connection of its own,
  /// each written at its offset; memory stays within count x (1 MiB + 1)),
  /// and the part workers of a whole-file upload. 4 by default; 1 fetches one
  /// range after another. Read when an operation starts. False with code 2
  /// for 0 or more than 16, leaving the value unchanged.
  bool SetTransferConcurrency(uint32_t count);

  /// Retries of requests that fail on the way (connection refused or reset,
  /// time-out, body cut short; for uploads, completions and removals only
  /// before a success status arrived, as the service has acted then) or are
  /// answered 500 (other than NotEnoughSpace), 502, 503 or 504: each
  /// request is tried up to `attempts` times in all (0 and 1, the default,
  /// mean once, as hosts that retry on their own expect), waiting before try
  /// n + 1 a random time up to base_delay_ms x 2^(n - 1), at most 10 s. Every
  /// request of this client is safe to repeat: uploads store the same bytes
  /// under the same key or part number, removals and reads change nothing
  /// more. A streamed download to a file that breaks resumes from the bytes
  /// already written (a Range from there, its answer checked to continue the
  /// same length); a ranged download retries only its failed range, a
  /// multipart upload only its failed parts and the completion (whose part
  /// tasks also keep their three attempts). Each retry is logged at level 4:
  /// "[function][Client]retry: attempt N of M in D ms, after CAUSE". Shared
  /// by copies; read when a request is sent.
  void SetRetryPolicy(uint32_t attempts, uint32_t base_delay_ms);

  /// Stops every call in flight on this client and its copies, from any
  /// thread (a progress callback included), within about 100 ms: transfers,
  /// waits between retries and upload workers. Those calls return false with
  /// code 10, message "cancelled"; nothing partial is reported as success (a
  /// download to a file leaves what it wrote; a cancelled multipart upload
  /// sends nothing more). Calls started after Cancel returns run normally.
  void Cancel();

  /// Stores `size` bytes (at most 32 MiB) as a new object; `url` receives its
  /// object URL on success and is left untouched on failure.
  bool UploadFile(std::string& url, const char* data, uint32_t size);

  /// Stores the local file at `path` (UTF-8) as a new object named after a new
  /// GUID and the file's extension. Files of 10 MiB or more go up in 2 MiB
  /// parts on worker threads (four by default, see SetTransferConcurrency).
  /// Blocks until done; reports progress.
  bool UploadFile(std::string& url, const std::string& path);

  /// Piece-wise uploads, one call per piece, pieces of one object in order.
  /// The first call (empty `url`) returns the object URL to pass to the later
  /// calls; the call with `last` true completes the object. A one-piece upload
  /// (empty url, last true) is stored whole.
  ///
  /// Open uploads live in a table of the process, keyed by object key. A
  /// later piece whose upload fails adds nothing: calling again with the
  /// same piece retries it. A completion that fails leaves the upload open
  /// with all its pieces, the last included, and the next call for that URL
  /// with `last` true completes it: with length 0 it sends no data and only
  /// retries the completion; with data it sends that data again in place of
  /// the last piece, then completes. Either way each piece is stored once.
  bool UploadFileByPieces(std::string& url, const char* data, uint32_t length, bool last);
  /// As UploadFileByPieces, but always through the multipart protocol.
  bool UploadFileByPiecesAloneStorage(std::string& url, const char* data, uint32_t length,
                                      bool last);
  /// As UploadFileByPieces, but the first call (`first` true) names the object:
  /// `url` holds the object key on entry and the object URL on return.
  bool UploadFileByPiecesAndFileName(std::string& url, const char* data, uint32_t length, bool last,
                                     bool first);

  /// Streams the object at `url` into the local file `local_path` (UTF-8),
  /// which is created or replaced. Reports progress. On failure the part
  /// written so far stays on disk.
  bool DownloadFile(const std::string& url, const std::string& local_path);

  /// Fetches the whole object into a new buffer of length + 1 bytes (the last
  /// one 0). The caller owns *buffer and frees it with delete[]. On failure
  /// *buffer and length are left untouched.
  bool DownloadFile(char** buffer, uint32_t& length, const std::string& url);
  /// As above for the byte range `range` ("first-last", "first-" or "-suffix";
  /// empty for the whole object). `range` is not changed.
  bool DownloadFile(char** buffer, uint32_t& length, std::string& range, const std::string& url);

  /// Removes the object (DELETE url).
  bool RemoveFileByUrl(const std::string& url);
  /// Removes the object's stored file (DELETE url?deletefile).
  bool RemoveObjectFileByUrl(const std::string& url);

  /// Reads the software version of the server named by `info` (plain HTTP),
  /// signing with the keys of `info`. `version` is left untouched on failure.
  bool GetStorageVersion(std::string& version, SStorageServerInfo info);

 private:
  static std::string GetAuthString(const std::string& method, const std::string& content_md5,
                                   const std::string& content_type, const std::string& date,
                                   const std::string& headers, const std::string& resource,
                                   const std::string& sk);

  std::shared_ptr<ObjectImpl> ptr_conf_;
};

/// Picture-gateway client. Keeps no error state: results and log records tell
/// what happened.
class ORCA_CS_API CPictureClient {
 public:
  /// Copies `config`; later changes to it have no effect.
  explicit CPictureClient(const SStorageServerConfig& config);
  /// Copies share one (read-only) configuration, retry policy and
  /// cancellation.
  CPictureClient(const CPictureClient& other);
  /// Shares the configuration of `other`.
  CPictureClient& operator=(const CPictureClient& other);
  /// The shared configuration goes with the last copy.
  ~CPictureClient();

  /// Checks the configuration as CObjectClient::Init does (without codes).
  bool Init();
  /// Always true.
  bool Uninit();

  /// Stores a JPEG picture of at most 32 MiB; `url` receives the gateway's
  /// picture URL on success.
  bool UploadPicture(std::string& url, const char* data, uint32_t length);
  /// Fetches a picture into a new buffer of length + 1 bytes (the last one 0),
  /// owned by the caller and freed with delete[].
  bool DownloadPicture(char** buffer, uint32_t& length, const std::string& url);
  /// Pictures cannot be removed: always true, sends nothing.
  bool RemoveFileByUrl(const std::string& url);

  /// As CObjectClient::SetRetryPolicy, except that picture uploads are never
  /// repeated (the gateway's token is good for one picture): the best-node
  /// query and downloads are.
  void SetRetryPolicy(uint32_t attempts, uint32_t base_delay_ms);
  /// As CObjectClient::Cancel; cancelled calls return false (this client
  /// keeps no error code).
  void Cancel();

 private:
  std::shared_ptr<SStorageServerConfig> ptr_conf_;
  std::shared_ptr<CallControl> control_;
};

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CLOUD_STORAGE_STORAGE_CLIENT_H_

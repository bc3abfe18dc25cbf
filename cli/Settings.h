// Where the tool finds the service: every setting comes from a command-line
// option or, when the option is absent, from its environment variable.
//
//   --address            OCS_ADDRESS            storage (and gateway) address
//   --upload-port        OCS_UPLOAD_PORT        uploads and removals
//   --download-port      OCS_DOWNLOAD_PORT      downloads
//   --https              OCS_HTTPS              "https://" instead of "http://"
//   --pool               OCS_POOL               storage pool
//   --pic-upload-port    OCS_PIC_UPLOAD_PORT    picture gateway
//   --pic-download-port  OCS_PIC_DOWNLOAD_PORT  picture downloads
//   --profile            OCS_PROFILE            credentials file (see Credentials.h)
//
// The retry options (--retries, --retry-delay-ms) and the output options
// (--quiet, --verbose, --json) have no variable.
#ifndef OCS_CLI_SETTINGS_H_
#define OCS_CLI_SETTINGS_H_

#include <cstdint>
#include <string>

#include "CLI/CLI.hpp"

namespace ocs {

struct Settings {
  std::string address;
  uint32_t upload_port = 0;
  uint32_t download_port = 0;
  bool https = false;
  std::string pool;
  uint32_t pic_upload_port = 0;
  uint32_t pic_download_port = 0;
  std::string profile;
  bool quiet = false;             // no progress bar
  bool verbose = false;           // the library's log records on standard error
  bool json = false;              // results as one JSON object on standard output
  uint32_t retries = 5;           // tries per request in all; 1: no retries
  uint32_t retry_delay_ms = 200;  // base of the wait before a retry
};

// Adds the options above, --quiet, --verbose, --json and the retry options
// to `app`.
void AddSettingOptions(CLI::App& app, Settings& settings);

// What the object commands need but is missing, as a message naming the
// option and the variable; empty when nothing is missing.
std::string MissingObjectSetting(const Settings& settings);
// The same for the picture commands.
std::string MissingPictureSetting(const Settings& settings);

}  // namespace ocs

#endif  // OCS_CLI_SETTINGS_H_

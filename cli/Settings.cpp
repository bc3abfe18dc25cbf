#include "cli/Settings.h"

#include <initializer_list>

namespace ocs {
namespace {

struct Requirement {
  bool missing;
  const char* what;
  const char* option;
  const char* variable;
};

std::string FirstMissing(std::initializer_list<Requirement> requirements) {
  for (const auto& r : requirements) {
    if (r.missing) {
      return std::string("no ") + r.what + ": use " + r.option + " or set " + r.variable;
    }
  }
  return "";
}

}  // namespace

void AddSettingOptions(CLI::App& app, Settings& settings) {
  app.add_option("--address", settings.address, "Service address")->envname("OCS_ADDRESS");
  app.add_option("--upload-port", settings.upload_port, "Upload port")->envname("OCS_UPLOAD_PORT");
  app.add_option("--download-port", settings.download_port, "Download port")
      ->envname("OCS_DOWNLOAD_PORT");
  app.add_flag("--https", settings.https, "Use HTTPS")->envname("OCS_HTTPS");
  app.add_option("--pool", settings.pool, "Storage pool")->envname("OCS_POOL");
  app.add_option("--pic-upload-port", settings.pic_upload_port, "Picture gateway port")
      ->envname("OCS_PIC_UPLOAD_PORT");
  app.add_option("--pic-download-port", settings.pic_download_port, "Picture download port")
      ->envname("OCS_PIC_DOWNLOAD_PORT");
  app.add_option("--profile", settings.profile, "Credentials file (mode 600)")
      ->envname("OCS_PROFILE");
  app.add_flag("-q,--quiet", settings.quiet, "No progress bar");
  app.add_flag("-v,--verbose", settings.verbose, "Show the library's log records");
  app.add_flag("--json", settings.json, "Print results as JSON");
  app.add_option("--retries", settings.retries, "Tries per request in all (1: no retries)")
      ->check(CLI::Range(1u, 100u))
      ->capture_default_str();
  app.add_option("--retry-delay-ms", settings.retry_delay_ms,
                 "Base of the random wait before a retry, doubled each time")
      ->capture_default_str();
}

std::string MissingObjectSetting(const Settings& settings) {
  return FirstMissing({
      {settings.address.empty(), "service address", "--address", "OCS_ADDRESS"},
      {settings.upload_port == 0, "upload port", "--upload-port", "OCS_UPLOAD_PORT"},
      {settings.download_port == 0, "download port", "--download-port", "OCS_DOWNLOAD_PORT"},
      {settings.pool.empty(), "storage pool", "--pool", "OCS_POOL"},
  });
}

std::string MissingPictureSetting(const Settings& settings) {
  return FirstMissing({
      {settings.address.empty(), "service address", "--address", "OCS_ADDRESS"},
      {settings.pic_upload_port == 0, "picture gateway port", "--pic-upload-port",
       "OCS_PIC_UPLOAD_PORT"},
      {settings.pic_download_port == 0, "picture download port", "--pic-download-port",
       "OCS_PIC_DOWNLOAD_PORT"},
      {settings.pool.empty(), "storage pool", "--pool", "OCS_POOL"},
  });
}

}  // namespace ocs

#include "wire/Signature.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <ctime>

#include "base/Clock.h"
#include "base/Encoding.h"
#include "base/StrFmt.h"

namespace Orca {
namespace CloudStorage {
namespace {

constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string FormatHttpDate(int64_t unix_seconds) {
  std::tm utc{};
  if (!Base::UtcTime(unix_seconds, utc) || utc.tm_wday < 0 || utc.tm_wday > 6 || utc.tm_mon < 0 ||
      utc.tm_mon > 11) {
    return std::string();
  }
  char year_and_time[30];
  if (std::strftime(year_and_time, sizeof(year_and_time), "%Y %H:%M:%S GMT", &utc) == 0) {
    return std::string();
  }
  return Base::str_fmt("%s, %2d %s %s", kWeekdays[utc.tm_wday], utc.tm_mday, kMonths[utc.tm_mon],
                       year_and_time);
}

std::string MakeHttpDate() { return FormatHttpDate(Base::UnixTimeNow()); }

std::string SignText(const std::string& text, const std::string& key) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_size = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest, &digest_size);
  std::string signature;
  Base::Encrypt::Base64Encode(digest, digest_size, signature);
  return signature;
}

std::string MakeSignature(const std::string& method, const std::string& content_md5,
                          const std::string& content_type, const std::string& date,
                          const std::string& headers, const std::string& resource,
                          const std::string& key) {
  return SignText(method + '\n' + content_md5 + '\n' + content_type + '\n' + date + '\n' + headers +
                      '\n' + resource,
                  key);
}

std::string MakePicSignature(const std::string& method, const std::string& content_md5,
                             const std::string& content_type, const std::string& date,
                             const std::string& resource, const std::string& key) {
  return SignText(method + '\n' + content_md5 + '\n' + content_type + '\n' + date + '\n' + resource,
                  key);
}

std::string MakeAuthorization(const std::string& ak, const std::string& signature) {
  return "quarnbox " + ak + ":" + signature;
}

}  // namespace CloudStorage
}  // namespace Orca

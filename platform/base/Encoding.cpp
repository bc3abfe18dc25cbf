#include "base/Encoding.h"

#include <openssl/evp.h>

#include <climits>

namespace Orca {
namespace Base {
namespace {

// Bytes that are not valid UTF-8 are carried as the code points
// U+DC80..U+DCFF ("surrogate escape"), so that any byte string survives the
// round trip to the wide form and back; file names are byte strings here.
constexpr wchar_t kEscapeBase = 0xDC00;

size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Decodes one well-formed sequence at `s` (of `len` bytes); 0 when malformed.
char32_t DecodeSequence(const unsigned char* s, size_t len) {
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  char32_t cp = len == 1 ? s[0] : s[0] & (0x7F >> len);
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
  if (cp < kMin[len] || cp > 0x10FFFF || surrogate) return 0;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::wstring UTF8ToWide(const std::string& utf8) {
  static_assert(sizeof(wchar_t) == 4, "wide strings hold UTF-32 here");
  std::wstring out;
  out.reserve(utf8.size());
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  size_t i = 0;
  while (i < utf8.size()) {
    const size_t len = SequenceLength(s[i]);
    const char32_t cp = (len != 0 && i + len <= utf8.size()) ? DecodeSequence(s + i, len) : 0;
    if (cp == 0 && s[i] != 0) {
      out += static_cast<wchar_t>(kEscapeBase + s[i]);
      ++i;
      continue;
    }
    out += static_cast<wchar_t>(cp);
    i += len;
  }
  return out;
}

std::string WideToUTF8(const std::wstring& wide) {
  std::string out;
  out.reserve(wide.size());
  for (const wchar_t wc : wide) {
    const auto cp = static_cast<char32_t>(wc);
    if (cp >= kEscapeBase + 0x80 && cp <= kEscapeBase + 0xFF) {
      out += static_cast<char>(cp - kEscapeBase);
    } else if (cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
      AppendUtf8(out, cp);
    } else {
      AppendUtf8(out, 0xFFFD);
    }
  }
  return out;
}

std::string UTF8ToLocal(const std::string& utf8) { return utf8; }

namespace Encrypt {

bool Base64Encode(const unsigned char* data, size_t size, std::string& out) {
  if (size > static_cast<size_t>(INT_MAX / 4 * 3)) {
    return false;
  }
  out.assign(4 * ((size + 2) / 3), '\0');
  const int written =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(size));
  out.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return written >= 0;
}

}  // namespace Encrypt
}  // namespace Base
}  // namespace Orca

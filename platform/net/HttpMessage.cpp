// URL, request and response records of the HTTP client component.
#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>

#include "net/HttpClient.h"

namespace Orca {
namespace Net {
namespace {

bool NameEquals(const std::string& a, const std::string& b) {
  return a.size() == b.size() && curl_strequal(a.c_str(), b.c_str()) != 0;
}

// A Content-Length value: decimal digits only.
bool ParseLength(const std::string& text, uint64_t& length) {
  if (text.empty() || text.size() > 19 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  length = std::strtoull(text.c_str(), nullptr, 10);
  return true;
}

}  // namespace

size_t URL::TargetStart() const {
  const size_t scheme_end = text_.find("://");
  const size_t authority = scheme_end == std::string::npos ? 0 : scheme_end + 3;
  const size_t target = text_.find_first_of("/?", authority);
  return target == std::string::npos ? text_.size() : target;
}

std::string URL::ToStdString(bool full) const {
  if (full) {
    return text_;
  }
  const size_t target = TargetStart();
  if (target == text_.size()) {
    return "/";
  }
  return text_[target] == '?' ? "/" + text_.substr(target) : text_.substr(target);
}

std::string URL::Origin() const { return text_.substr(0, TargetStart()); }

void CHttpClientRequest::SetData(std::string body) {
  owned_body_ = std::move(body);
  owns_body_ = true;
  data_ = nullptr;
  size_ = owned_body_.size();
}

void CHttpClientRequest::SetDataRef(const char* data, size_t size) {
  std::string().swap(owned_body_);
  owns_body_ = false;
  data_ = data;
  size_ = data == nullptr ? 0 : size;
}

bool CHttpClientResponse::GetResponseData(std::string& data) const {
  data = body_;
  return true;
}

bool CHttpClientResponse::GetHeaderField(std::string& value, const std::string& name) const {
  for (const auto& field : headers_) {
    if (NameEquals(field.first, name)) {
      value = field.second;
      return true;
    }
  }
  value.clear();
  return false;
}

bool CHttpClientResponse::GetAllHeaders(std::map<std::string, std::string>& headers) const {
  headers.clear();
  for (const auto& field : headers_) {
    headers.emplace(field.first, field.second);
  }
  return !headers_.empty();
}

uint64_t CHttpClientResponse::GetContentLength() const {
  return has_content_length_ ? content_length_ : received_;
}

void CHttpClientResponse::Reset() { *this = CHttpClientResponse(); }

void CHttpClientResponse::AddHeaderField(const std::string& name, const std::string& value) {
  headers_.emplace_back(name, value);
  if (!has_content_length_ && NameEquals(name, "Content-Length")) {
    has_content_length_ = ParseLength(value, content_length_);
  }
}

void CHttpClientResponse::AppendBody(const char* data, size_t size, uint64_t keep_limit) {
  received_ += size;
  if (body_.size() < keep_limit) {
    body_.append(data, static_cast<size_t>(std::min<uint64_t>(size, keep_limit - body_.size())));
  }
}

void CHttpClientResponse::ReserveBody(uint64_t size) {
  body_.reserve(static_cast<size_t>(std::min<uint64_t>(size, body_.max_size())));
}

}  // namespace Net
}  // namespace Orca

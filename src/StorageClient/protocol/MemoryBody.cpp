#include "protocol/MemoryBody.h"

#include <algorithm>
#include <new>

#include "base/Memory.h"
#include "base/StrFmt.h"
#include "wire/Buffers.h"
#include "wire/Constants.h"

namespace Orca {
namespace CloudStorage {

Net::CHttpClientRequest::BodyStorage CMemoryBody::Storage() {
  return [this](uint64_t length) -> char* {
    // An untouched buffer: its pages are committed as the body fills them.
    direct_.reset(length <= kMaxDirectBodySize ? new (std::nothrow) char[length + 1] : nullptr);
    if (direct_) {
      Base::AdviseHugePages(direct_.get(), static_cast<size_t>(length) + 1);
    }
    return direct_.get();
  };
}

std::string CMemoryBody::Problem(const Net::CHttpClientResponse& response) {
  const auto length = static_cast<unsigned long long>(response.GetContentLength());
  if (response.BodyLimitExceeded() || length > kMaxMemoryDownloadSize) {
    return Base::str_fmt("object size[%llu] exceeds the 32-bit length of a memory download",
                         length);
  }
  const auto received = static_cast<unsigned long long>(response.GetReceivedLength());
  if (!response.IsBodyComplete() || received < length) {
    return Base::str_fmt("body short[%llu of %llu bytes received]", received, length);
  }
  return std::string();
}

char* CMemoryBody::Release(const Net::CHttpClientResponse& response, uint32_t& length) {
  const auto size = static_cast<uint32_t>(response.GetContentLength());
  char* buffer = nullptr;
  if (direct_) {
    buffer = direct_.release();
    buffer[size] = '\0';
  } else {
    buffer = NewZeroedBuffer(size);
    if (buffer == nullptr) {
      return nullptr;
    }
    std::copy_n(response.GetBody().data(), size, buffer);
  }
  length = size;
  return buffer;
}

}  // namespace CloudStorage
}  // namespace Orca

#include "emulator/service/Admission.h"

#include <cerrno>
#include <set>

namespace ocs {

bool Authenticate(Exchange& ex, Context& ctx, SignLayout layout, std::string* ak) {
  if (const auto error = ctx.auth.Verify(FactsOf(ex), layout, ak)) {
    AnswerError(ex, *error);
    return false;
  }
  return true;
}

bool AdmitPool(Exchange& ex, Context& ctx, const std::string& pool, const std::string& ak) {
  if (const auto error = ctx.auth.CheckPool(pool, ak)) {
    AnswerError(ex, *error);
    return false;
  }
  return true;
}

std::optional<ObjectAddress> AdmitObject(Exchange& ex, Context& ctx) {
  std::string ak;
  if (!Authenticate(ex, ctx, SignLayout::kObject, &ak)) {
    return std::nullopt;
  }
  std::string why;
  auto address = ParseObjectPath(ex.path, &why);
  if (!address) {
    AnswerError(ex, BadRequest("InvalidURI", "Bad object path: " + why + "."));
    return std::nullopt;
  }
  if (!AdmitPool(ex, ctx, address->pool, ak)) {
    return std::nullopt;
  }
  return address;
}

bool QueryIs(const Exchange& ex, std::initializer_list<const char*> names) {
  const std::set<std::string> wanted(names.begin(), names.end());
  if (wanted.size() != ex.params.size()) {
    return false;
  }
  for (const auto& [name, value] : ex.params) {
    if (wanted.count(name) == 0) {
      return false;
    }
  }
  return true;
}

void AnswerUnsupported(Exchange& ex) {
  AnswerError(ex, BadRequest("InvalidRequest", ex.req.method + " " + ex.target() +
                                                   " is not served on the " + RoleName(ex.role) +
                                                   " port."));
}

ApiError InternalError(const std::string& message) {
  return MakeError(500, "InternalError", message);
}

Charge::Charge(Store& store, std::string pool, uint64_t bytes)
    : store_(store), pool_(std::move(pool)), bytes_(bytes), held_(store.Reserve(pool_, bytes)) {}

Charge::~Charge() {
  if (held_ && !kept_) {
    store_.Release(pool_, bytes_);
  }
}

std::optional<ReceivedBody> ReceiveBody(Exchange& ex, Context& ctx, const std::string& pool) {
  const auto length = DeclaredLength(ex);
  if (!length) {
    AnswerError(ex, MakeError(411, "MissingContentLength", "The body needs a Content-Length."));
    return std::nullopt;
  }
  ReceivedBody body{nullptr, std::make_unique<Charge>(ctx.store, pool, *length)};
  if (!body.charge->held()) {
    AnswerError(ex, NotEnoughSpace(pool));
    return std::nullopt;
  }
  body.file = ctx.store.NewTempFile();
  if (!body.file) {
    AnswerError(ex, InternalError("No temporary file could be created."));
    return std::nullopt;
  }
  int write_errno = 0;
  auto error = ReadBody(
      ex,
      [&](const char* data, size_t size) {
        const bool written = body.file->Write(data, size);
        write_errno = written ? 0 : errno;
        return written;
      },
      [&] {
        return write_errno == ENOSPC ? NotEnoughSpace(pool)
                                     : InternalError("The body could not be stored.");
      });
  if (!error && ctx.auth.enabled()) {
    error = CheckContentMd5(ex.header("Content-MD5"), ex.body_md5, true);
  }
  if (error) {
    AnswerError(ex, *error);
    return std::nullopt;
  }
  return body;
}

}  // namespace ocs

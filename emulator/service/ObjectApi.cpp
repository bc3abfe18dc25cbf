#include "emulator/service/ObjectApi.h"

#include "emulator/service/Admission.h"
#include "emulator/service/Gateway.h"
#include "emulator/service/Multipart.h"
#include "emulator/service/Serving.h"
#include "emulator/store/Pattern.h"

namespace ocs {
namespace {

constexpr size_t kMaxCompletionDocument = 1 << 20;

ApiError ReservedKey(const std::string& key) {
  return BadRequest("ReservedKey", "The key " + key + " names a generated object: read only.");
}

bool IsGenerated(const ObjectAddress& address) {
  return ParseGeneratedKey(address.key).has_value();
}

std::optional<DataSource> FindObject(Context& ctx, const ObjectAddress& address) {
  if (const auto generated = ParseGeneratedKey(address.key)) {
    return PatternSource(*generated);
  }
  if (const auto file = ctx.store.OpenObject(address.pool, address.key)) {
    return FileSource(*file);
  }
  return std::nullopt;
}

void SetETag(Exchange& ex) {
  if (!ex.body_md5.empty()) {
    ex.res.set_header("ETag", "\"" + ex.body_md5 + "\"");
  }
}

void Version(Exchange& ex, Context& ctx) {
  std::string ak;
  if (Authenticate(ex, ctx, SignLayout::kObject, &ak)) {
    AnswerXml(ex, XmlDocument("CloudVersion", {{"version", ctx.options.version}}));
  }
}

void BestNode(Exchange& ex, Context& ctx) {
  AnswerXml(ex, XmlDocument("BestNodeInfo", {{"Location", ctx.NextNodeLocation()}}));
}

void InitiateUpload(Exchange& ex, Context& ctx, const ObjectAddress& address) {
  if (IsGenerated(address)) {
    AnswerError(ex, ReservedKey(address.key));
    return;
  }
  if (ctx.store.IsFull(address.pool)) {
    AnswerError(ex, NotEnoughSpace(address.pool));
    return;
  }
  const std::string id = ctx.store.CreateUpload(address.pool, address.key);
  if (id.empty()) {
    AnswerError(ex, InternalError("The upload could not be recorded."));
    return;
  }
  AnswerXml(ex, XmlDocument("InitiateMultipartUploadResult",
                            {{"Bucket", address.pool}, {"Key", address.key}, {"UploadId", id}}));
}

// The open upload the query names, for this object; nothing after answering.
std::optional<UploadInfo> FindUpload(Exchange& ex, Context& ctx, const ObjectAddress& address) {
  auto upload = ctx.store.GetUpload(ex.params["upload_id"]);
  if (!upload || upload->pool != address.pool || upload->key != address.key) {
    AnswerError(ex, MakeError(404, "NoSuchUpload",
                              "No open upload " + ex.params["upload_id"] + " for this object."));
    return std::nullopt;
  }
  return upload;
}

void CompleteUpload(Exchange& ex, Context& ctx, const ObjectAddress& address) {
  const auto upload = FindUpload(ex, ctx, address);
  if (!upload) {
    return;
  }
  std::string document;
  auto error = ReadBody(
      ex,
      [&](const char* data, size_t size) {
        document.append(data, size);
        return document.size() <= kMaxCompletionDocument;
      },
      [] { return BadRequest("MalformedXML", "The completion document is too large."); });
  if (!error && ctx.auth.enabled()) {
    error = CheckContentMd5(ex.header("Content-MD5"), ex.body_md5, true);
  }
  std::vector<uint32_t> numbers;
  if (!error) {
    error = CheckCompletion(document, *upload, &numbers);
  }
  if (!error) {
    const std::string problem = ctx.store.CompleteUpload(ex.params["upload_id"], numbers);
    if (!problem.empty()) {
      error = MakeError(404, "NoSuchUpload", "The upload could not be completed: " + problem + ".");
    }
  }
  if (error) {
    AnswerError(ex, *error);
    return;
  }
  AnswerXml(ex, XmlDocument("CompleteMultipartUploadResult",
                            {{"Location", "/" + address.pool + "/" + address.key},
                             {"Bucket", address.pool},
                             {"Key", address.key}}));
}

void RemoveObject(Exchange& ex, Context& ctx, const ObjectAddress& address) {
  if (IsGenerated(address)) {
    AnswerError(ex, ReservedKey(address.key));
  } else if (!ctx.store.RemoveObject(address.pool, address.key)) {
    AnswerError(ex, NoSuchKey(address.key));
  } else {
    ex.res.status = 200;
  }
}

void PutObject(Exchange& ex, Context& ctx, const ObjectAddress& address) {
  if (IsGenerated(address)) {
    AnswerError(ex, ReservedKey(address.key));
    return;
  }
  auto body = ReceiveBody(ex, ctx, address.pool);
  if (!body) {
    return;
  }
  if (!ctx.store.CommitObject(*body->file, address.pool, address.key)) {
    AnswerError(ex, InternalError("The object could not be stored."));
    return;
  }
  body->charge->Keep();
  ex.res.status = 200;
  SetETag(ex);
}

void PutPart(Exchange& ex, Context& ctx, const ObjectAddress& address) {
  const auto number = ParsePartNumber(ex.params["part_number"]);
  if (!number) {
    AnswerError(ex,
                BadRequest("InvalidArgument", "part_number must be 1 to 10000, in plain decimal."));
    return;
  }
  if (!FindUpload(ex, ctx, address)) {
    return;
  }
  auto body = ReceiveBody(ex, ctx, address.pool);
  if (!body) {
    return;
  }
  if (!ctx.store.CommitPart(*body->file, ex.params["upload_id"], *number)) {
    AnswerError(ex, MakeError(404, "NoSuchUpload", "The upload was closed meanwhile."));
    return;
  }
  body->charge->Keep();
  ex.res.status = 200;
  SetETag(ex);
}

void GetObject(Exchange& ex, Context& ctx, const ObjectAddress& address, bool may_redirect) {
  const auto source = FindObject(ctx, address);
  if (!source) {
    AnswerError(ex, NoSuchKey(address.key));
  } else if (!may_redirect || !MaybeRedirect(ex, ctx)) {
    ServeData(ex, *source);
  }
}

void Metadata(Exchange& ex, Context& ctx, const ObjectAddress& address) {
  const auto source = FindObject(ctx, address);
  if (!source) {
    AnswerError(ex, NoSuchKey(address.key));
    return;
  }
  ex.res.status = 200;
  ex.res.set_header("Object-Size", std::to_string(source->size));
}

bool Is(const Exchange& ex, const char* method) { return ex.req.method == method; }

}  // namespace

void HandleUploadPort(Exchange& ex, Context& ctx) {
  if (ex.path == "/" && Is(ex, "GET") && QueryIs(ex, {"version"})) {
    Version(ex, ctx);
    return;
  }
  const auto address = AdmitObject(ex, ctx);
  if (!address) {
    return;
  }
  if (Is(ex, "GET") && QueryIs(ex, {"bestnode"})) {
    BestNode(ex, ctx);
  } else if (Is(ex, "POST") && QueryIs(ex, {"uploads"})) {
    InitiateUpload(ex, ctx, *address);
  } else if (Is(ex, "POST") && QueryIs(ex, {"upload_id"})) {
    CompleteUpload(ex, ctx, *address);
  } else if (Is(ex, "DELETE") && (QueryIs(ex, {}) || QueryIs(ex, {"deletefile"}))) {
    RemoveObject(ex, ctx, *address);
  } else {
    AnswerUnsupported(ex);
  }
}

void HandleNodePort(Exchange& ex, Context& ctx) {
  if (IsPicturePath(ex.path)) {
    HandlePictureRead(ex, ctx, false);
    return;
  }
  const auto address = AdmitObject(ex, ctx);
  if (!address) {
    return;
  }
  if (Is(ex, "PUT") && QueryIs(ex, {})) {
    PutObject(ex, ctx, *address);
  } else if (Is(ex, "POST") && QueryIs(ex, {"upload_id", "part_number"})) {
    PutPart(ex, ctx, *address);
  } else if (Is(ex, "GET") && QueryIs(ex, {})) {
    GetObject(ex, ctx, *address, false);
  } else if (Is(ex, "GET") && QueryIs(ex, {"metadata"})) {
    Metadata(ex, ctx, *address);
  } else {
    AnswerUnsupported(ex);
  }
}

void HandleDownloadPort(Exchange& ex, Context& ctx) {
  const auto address = AdmitObject(ex, ctx);
  if (!address) {
    return;
  }
  if (Is(ex, "GET") && QueryIs(ex, {})) {
    GetObject(ex, ctx, *address, true);
  } else if (Is(ex, "GET") && QueryIs(ex, {"metadata"})) {
    Metadata(ex, ctx, *address);
  } else {
    AnswerUnsupported(ex);
  }
}

}  // namespace ocs

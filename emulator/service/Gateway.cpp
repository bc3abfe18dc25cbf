#include "emulator/service/Gateway.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <map>

#include "emulator/service/Admission.h"
#include "emulator/service/Crypto.h"
#include "emulator/service/KeyPath.h"
#include "emulator/service/Serving.h"
#include "emulator/service/Signing.h"

namespace ocs {
namespace {

constexpr char kPicturePrefix[] = "/QuarnBox/Picture/";
constexpr char kPictureField[] = "Picture";
constexpr size_t kMaxFieldSize = 1024;

struct PictureAddress {
  std::string pool;
  std::string id;  // 32 hex digits and ".jpg"
};

std::optional<PictureAddress> ParsePicturePath(const std::string& path) {
  const std::string prefix = kPicturePrefix;
  if (path.compare(0, prefix.size(), prefix) != 0) {
    return std::nullopt;
  }
  const size_t slash = path.find('/', prefix.size());
  if (slash == std::string::npos) {
    return std::nullopt;
  }
  PictureAddress address{path.substr(prefix.size(), slash - prefix.size()), path.substr(slash + 1)};
  const bool id_ok = address.id.size() == 36 && address.id.compare(32, 4, ".jpg") == 0 &&
                     address.id.find_first_not_of("0123456789abcdef") == 32;
  if (!IsValidPoolName(address.pool) || !id_ok) {
    return std::nullopt;
  }
  return address;
}

bool IsDecimal(const std::string& text) {
  return !text.empty() && text.size() <= 19 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

void BestNode(Exchange& ex, Context& ctx, const std::string& ak) {
  const std::string serial = ex.params["SerialID"];
  const std::string pool = ex.params["PoolID"];
  if (serial.empty() || pool.empty() || ex.params.count("Replication") == 0) {
    AnswerError(ex, BadRequest("InvalidArgument", "SerialID, PoolID and Replication are needed."));
    return;
  }
  if (!AdmitPool(ex, ctx, pool, ak)) {
    return;
  }
  const std::string token = RandomHex(16);
  ctx.tokens.Issue(serial, pool, token);
  rapidjson::StringBuffer out;
  rapidjson::Writer<rapidjson::StringBuffer> json(out);
  json.StartObject();
  json.Key("GatewayIP");
  json.String(ctx.options.advertise_address.c_str());
  json.Key("GatewayPort");
  json.Int(ctx.gateway_port);
  json.Key("Token");
  json.String(token.c_str());
  json.EndObject();
  AnswerJson(ex, out.GetString());
}

// The fields and the picture of an upload form.
struct PictureForm {
  std::map<std::string, std::string> fields;
  bool has_picture = false;
  std::string picture_type;
};

// Reads the form, the picture into `file`; nothing after answering.
std::optional<PictureForm> ReadPictureForm(Exchange& ex, TempFile& file) {
  PictureForm form;
  std::string current;
  const auto error = ReadForm(
      ex,
      [&](const httplib::MultipartFormData& part) {
        current = part.name;
        if (current == kPictureField) {
          form.picture_type = part.content_type;
          return !std::exchange(form.has_picture, true);
        }
        return form.fields.emplace(current, "").second;
      },
      [&](const char* data, size_t size) {
        if (current == kPictureField) {
          return file.Write(data, size);
        }
        std::string& value = form.fields[current];
        value.append(data, size);
        return value.size() <= kMaxFieldSize;
      });
  if (error) {
    AnswerError(ex, *error);
    return std::nullopt;
  }
  return form;
}

// Why the form cannot be stored, or nothing.
std::optional<ApiError> CheckForm(PictureForm& form, uint64_t picture_size) {
  for (const char* name :
       {"SerialID", "PoolID", "TimeStamp", "PictureType", "Token", "PictureLength"}) {
    if (form.fields.count(name) == 0) {
      return BadRequest("MalformedForm", std::string("The form has no ") + name + " field.");
    }
  }
  if (!form.has_picture || form.picture_type != "image/jpeg") {
    return BadRequest("MalformedForm", "The form needs a Picture part of type image/jpeg.");
  }
  if (!IsDecimal(form.fields["TimeStamp"]) || !IsDecimal(form.fields["PictureType"])) {
    return BadRequest("MalformedForm", "TimeStamp and PictureType must be decimal numbers.");
  }
  if (form.fields["PictureLength"] != std::to_string(picture_size)) {
    return BadRequest("InvalidPictureLength", "PictureLength is " + form.fields["PictureLength"] +
                                                  " but the picture holds " +
                                                  std::to_string(picture_size) + " bytes.");
  }
  return std::nullopt;
}

void WritePicture(Exchange& ex, Context& ctx, const std::string& ak) {
  if (MediaType(ex.header("Content-Type")) != "multipart/form-data") {
    AnswerError(ex, BadRequest("InvalidContentType", "A picture upload is multipart/form-data."));
    return;
  }
  const auto file = ctx.store.NewTempFile();
  if (!file) {
    AnswerError(ex, InternalError("No temporary file could be created."));
    return;
  }
  auto form = ReadPictureForm(ex, *file);
  if (!form) {
    return;
  }
  if (const auto error = CheckForm(*form, file->size())) {
    AnswerError(ex, *error);
    return;
  }
  const std::string pool = form->fields["PoolID"];
  if (!AdmitPool(ex, ctx, pool, ak)) {
    return;
  }
  if (!ctx.tokens.Redeem(form->fields["SerialID"], pool, form->fields["Token"])) {
    AnswerError(ex, MakeError(403, "InvalidToken",
                              "SerialID and Token do not match a best-node answer for this pool."));
    return;
  }
  Charge charge(ctx.store, pool, file->size());
  const std::string id = RandomHex(16) + ".jpg";
  if (!charge.held()) {
    AnswerError(ex, NotEnoughSpace(pool));
    return;
  }
  if (!ctx.store.CommitPicture(*file, pool, id)) {
    AnswerError(ex, InternalError("The picture could not be stored."));
    return;
  }
  charge.Keep();
  rapidjson::StringBuffer out;
  rapidjson::Writer<rapidjson::StringBuffer> json(out);
  json.StartObject();
  json.Key("PictureUrl");
  json.String((kPicturePrefix + pool + "/" + id).c_str());
  json.EndObject();
  AnswerJson(ex, out.GetString());
}

}  // namespace

bool IsPicturePath(const std::string& path) {
  return path.compare(0, sizeof(kPicturePrefix) - 1, kPicturePrefix) == 0;
}

void HandleGatewayPort(Exchange& ex, Context& ctx) {
  const bool best_node = ex.path == "/QuarnBox/BestNode" && ex.req.method == "GET";
  const bool write = ex.path == "/QuarnBox/Picture/Write" && ex.req.method == "POST";
  if (!best_node && !write) {
    AnswerUnsupported(ex);
    return;
  }
  std::string ak;
  if (!Authenticate(ex, ctx, SignLayout::kPicture, &ak)) {
    return;
  }
  if (best_node) {
    BestNode(ex, ctx, ak);
  } else {
    WritePicture(ex, ctx, ak);
  }
}

void HandleGatewayDownloadPort(Exchange& ex, Context& ctx) {
  if (IsPicturePath(ex.path)) {
    HandlePictureRead(ex, ctx, true);
  } else {
    AnswerUnsupported(ex);
  }
}

void HandlePictureRead(Exchange& ex, Context& ctx, bool may_redirect) {
  if (ex.req.method != "GET" || !ex.query.empty()) {
    AnswerUnsupported(ex);
    return;
  }
  std::string ak;
  if (!Authenticate(ex, ctx, SignLayout::kPicture, &ak)) {
    return;
  }
  const auto address = ParsePicturePath(ex.path);
  if (!address) {
    AnswerError(ex, NoSuchKey(ex.path));
    return;
  }
  if (!AdmitPool(ex, ctx, address->pool, ak)) {
    return;
  }
  const auto file = ctx.store.OpenPicture(address->pool, address->id);
  if (!file) {
    AnswerError(ex, NoSuchKey(ex.path));
  } else if (!may_redirect || !MaybeRedirect(ex, ctx)) {
    ServeData(ex, FileSource(*file));
  }
}

}  // namespace ocs

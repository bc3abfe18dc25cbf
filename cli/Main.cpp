// ocs: a command-line tool for the object-storage service and its picture
// gateway, built on the public API of the client library.
#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "CLI/CLI.hpp"
#include "cli/Commands.h"
#include "cli/Completion.h"
#include "cli/Credentials.h"
#include "cli/LogSinks.h"
#include "cli/Output.h"
#include "cli/Settings.h"

namespace {

using ocs::Settings;

// A parsed subcommand, the settings it needs, and what runs it.
struct Command {
  CLI::App* app;
  std::string (*missing_setting)(const Settings&);  // nullptr: checks its own
  std::function<int(const ocs::Context&)> run;
};

struct Arguments {
  ocs::PutArgs put;
  ocs::GetArgs get;
  ocs::GetArgs cat;
  ocs::RemoveArgs remove;
  ocs::VersionArgs version;
  ocs::PicturePutArgs pic_put;
  ocs::PictureGetArgs pic_get;
};

void AddRangeOption(CLI::App* command, std::string& range) {
  command->add_option("--range", range, "Bytes FIRST-LAST, FIRST- or -SUFFIX (use --range=-N)")
      ->check(ocs::CheckRange);
}

std::vector<Command> AddCommands(CLI::App& app, Arguments& a) {
  auto* put = app.add_subcommand("put", "Store FILE (or standard input: -); prints the object URL");
  put->add_option("FILE", a.put.source, "File, or - for standard input")->required();
  put->add_option("--name", a.put.name, "Object key: store piece by piece under this name");

  auto* get =
      app.add_subcommand("get", "Fetch the object at URL into FILE (- for standard output)");
  get->add_option("URL", a.get.url, "Object URL")->required();
  get->add_option("FILE", a.get.target, "Target file, or -")->required();
  AddRangeOption(get, a.get.range);

  auto* cat = app.add_subcommand("cat", "Write the object at URL to standard output");
  cat->add_option("URL", a.cat.url, "Object URL")->required();
  AddRangeOption(cat, a.cat.range);

  auto* rm = app.add_subcommand("rm", "Remove the object at URL");
  rm->add_option("URL", a.remove.url, "Object URL")->required();
  rm->add_flag("--deletefile", a.remove.delete_file, "Remove the object's stored file instead");

  auto* version = app.add_subcommand("version", "Print the service's software version");
  version->add_option("SERVER", a.version.server, "HOST[:PORT] of another server");

  auto* pic = app.add_subcommand("pic", "Pictures through the picture gateway");
  pic->require_subcommand(1);
  pic->fallthrough();
  auto* pic_put = pic->add_subcommand("put", "Store the JPEG picture FILE; prints its URL");
  pic_put->add_option("FILE", a.pic_put.file, "JPEG file")->required();
  auto* pic_get = pic->add_subcommand("get", "Fetch the picture at URL into FILE (or -)");
  pic_get->add_option("URL", a.pic_get.url, "Picture URL")->required();
  pic_get->add_option("FILE", a.pic_get.target, "Target file, or -")->required();

  for (auto* command : {put, get, cat, rm, version, pic_put, pic_get}) {
    command->fallthrough();
  }
  return {
      {put, ocs::MissingObjectSetting, [&a](const auto& ctx) { return RunPut(ctx, a.put); }},
      {get, ocs::MissingObjectSetting, [&a](const auto& ctx) { return RunGet(ctx, a.get); }},
      {cat, ocs::MissingObjectSetting, [&a](const auto& ctx) { return RunGet(ctx, a.cat); }},
      {rm, ocs::MissingObjectSetting, [&a](const auto& ctx) { return RunRemove(ctx, a.remove); }},
      {version, nullptr, [&a](const auto& ctx) { return RunVersion(ctx, a.version); }},
      {pic_put, ocs::MissingPictureSetting,
       [&a](const auto& ctx) { return RunPicturePut(ctx, a.pic_put); }},
      {pic_get, ocs::MissingPictureSetting,
       [&a](const auto& ctx) { return RunPictureGet(ctx, a.pic_get); }},
  };
}

int Run(const Command& command, ocs::Context& ctx) {
  if (command.missing_setting != nullptr) {
    const std::string missing = command.missing_setting(ctx.settings);
    if (!missing.empty()) {
      return ocs::Complain(missing, ocs::kExitUsage);
    }
  }
  std::string problem;
  const auto keys = ocs::LoadKeys(ctx.settings.profile, problem);
  if (!keys) {
    return ocs::Complain(problem);
  }
  ctx.keys = *keys;
  ocs::LogRecorder log(ctx.settings.verbose);
  ctx.log = &log;
  return command.run(ctx);
}

int Main(int argc, char** argv) {
  CLI::App app{"ocs: store and fetch objects and pictures on the object-storage service"};
  app.set_version_flag("--version", "ocs " OCS_TOOL_VERSION);
  app.require_subcommand(1);
  ocs::Context ctx;
  ocs::AddSettingOptions(app, ctx.settings);
  Arguments arguments;
  const std::vector<Command> commands = AddCommands(app, arguments);
  ocs::AddCompletionOption(app, "ocs");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? ocs::kExitOk : ocs::kExitUsage;
  }
  for (const auto& command : commands) {
    if (command.app->parsed()) {
      return Run(command, ctx);
    }
  }
  return ocs::kExitUsage;  // not reached: a subcommand is required
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ocs: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "ocs: unexpected failure\n");
  }
  return ocs::kExitFailure;
}

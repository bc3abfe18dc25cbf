// The commands of the tool. Each returns the process exit code (Output.h)
// and prints its result or its failure itself.
//
//   put FILE | -  [--name NAME]      store a file, or standard input piece by piece
//   get URL FILE | -  [--range R]    fetch an object into a file or to standard output
//   cat URL  [--range R]             fetch an object to standard output
//   rm URL  [--deletefile]           remove an object (or its stored file)
//   version [HOST[:PORT]]            the service's software version
//   pic put FILE                     store a JPEG picture through the gateway
//   pic get URL FILE | -             fetch a picture
#ifndef OCS_CLI_COMMANDS_H_
#define OCS_CLI_COMMANDS_H_

#include <string>

#include "cli/Credentials.h"
#include "cli/Interrupts.h"
#include "cli/LogSinks.h"
#include "cli/ProgressBar.h"
#include "cli/Settings.h"

namespace ocs {

// What every command works with.
struct Context {
  Settings settings;
  Keys keys;
  LogRecorder* log = nullptr;
  ProgressBar* bar = nullptr;  // the transfer's, and the retry notices'
  InterruptWatch* interrupts = nullptr;
};

struct PutArgs {
  std::string source;  // a file, or "-" for standard input
  std::string name;    // object key for the file-name variant; empty for a GUID key
};

struct GetArgs {
  std::string url;
  std::string target = "-";  // a file, or "-" for standard output
  std::string range;         // "first-last", "first-" or "-suffix"; empty for all
};

struct RemoveArgs {
  std::string url;
  bool delete_file = false;  // remove the object's stored file instead
};

struct VersionArgs {
  std::string server;  // "HOST" or "HOST:PORT"; empty for the configured service
};

struct PicturePutArgs {
  std::string file;
};

struct PictureGetArgs {
  std::string url;
  std::string target;
};

int RunPut(const Context& ctx, const PutArgs& args);
int RunGet(const Context& ctx, const GetArgs& args);
int RunRemove(const Context& ctx, const RemoveArgs& args);
int RunVersion(const Context& ctx, const VersionArgs& args);
int RunPicturePut(const Context& ctx, const PicturePutArgs& args);
int RunPictureGet(const Context& ctx, const PictureGetArgs& args);

// "" when `range` is a byte range the service takes ("first-last" with
// first <= last, "first-" or "-suffix"), else what is wrong with it.
std::string CheckRange(const std::string& range);

}  // namespace ocs

#endif  // OCS_CLI_COMMANDS_H_

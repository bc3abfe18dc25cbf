// The access key and secret key. They never come from the command line, so
// that they do not show in process listings or shell history. Sources, first
// match wins:
//   1. the profile file named by --profile (or OCS_PROFILE);
//   2. the environment variables OCS_ACCESS_KEY and OCS_SECRET_KEY;
//   3. the default profile, $XDG_CONFIG_HOME/ocs/credentials (or
//      ~/.config/ocs/credentials), when it exists.
//
// A profile file holds "name = value" lines ('#' starts a comment line):
//   access_key = AK
//   secret_key = SK
// and is refused when group or others have any access to it (chmod 600).
#ifndef OCS_CLI_CREDENTIALS_H_
#define OCS_CLI_CREDENTIALS_H_

#include <optional>
#include <string>

namespace ocs {

struct Keys {
  std::string access_key;
  std::string secret_key;
};

// Loads the keys from the first source above; on failure returns nothing and
// says why in `problem`. `profile` is the --profile value (may be empty).
std::optional<Keys> LoadKeys(const std::string& profile, std::string& problem);

// Parses the text of a profile file; `problem` names the first bad line.
std::optional<Keys> ParseProfile(const std::string& text, std::string& problem);

// Reads the profile at `path`, refusing it when its permission bits give
// group or others any access.
std::optional<Keys> ReadProfile(const std::string& path, std::string& problem);

// The default profile path, from XDG_CONFIG_HOME or HOME; empty when neither is set.
std::string DefaultProfilePath();

}  // namespace ocs

#endif  // OCS_CLI_CREDENTIALS_H_

// Where the profile files that the program names lie on the host,
// remembered per installation: the kit is read once for every soft font of
// every port, and finding a path's names without letter case each time
// would cost more than the read.
#ifndef PFMSETUP_PLATFORM_HOST_INSTALLATION_PROFILE_PATHS_H
#define PFMSETUP_PLATFORM_HOST_INSTALLATION_PROFILE_PATHS_H

#include <string>
#include <unordered_map>

namespace host {

class Installation;
class ProfileDocument;

class ProfilePaths {
public:
    // The paths of the files of `installation`, which owns this object.
    explicit ProfilePaths(const Installation &installation) : installation_(installation) {}

    // The host path of a profile file name, or null; a bare file name lies
    // in the Windows folder. Every absolute name that resolves is
    // remembered, whether or not its file exists yet; `fresh` resolves it
    // again (a read that found no file there asks once more, so that a file
    // created since is found). The text lives until the next call.
    const std::string *Resolve(const char *file, bool fresh);

    // What the profile calls remember about the name resolved last: whether
    // it is win.ini held with pending changes, as of a generation of the
    // system profile's hold. Cleared whenever another name is resolved.
    struct PendingMemo {
        bool known = false;
        unsigned long generation = 0;
        const ProfileDocument *pending = nullptr;
    };
    PendingMemo &LastMemo() { return memo_; }
    const std::string *LastPath() const { return &last_path_; }

private:
    const Installation &installation_;
    std::unordered_map<std::string, std::string> resolved_;  // absolute Windows name -> host path
    // The name resolved last, answered again without a look-up: reads come
    // in long runs on one file. Only names that the map above holds.
    bool last_valid_ = false;
    std::string last_file_;
    std::string last_path_;
    PendingMemo memo_;
};

}  // namespace host

#endif

#include "platform/host/installation/profile_paths.h"

#include "platform/host/installation/installation.h"
#include "platform/host/installation/windows_paths.h"

#include <cstring>
#include <optional>

namespace host {

const std::string *ProfilePaths::Resolve(const char *file, bool fresh)
{
    if (!fresh && last_valid_ && std::strcmp(last_file_.c_str(), file) == 0) return &last_path_;
    last_valid_ = false;
    memo_ = PendingMemo();

    std::string name(file);
    if (name.find_first_of("\\/") == std::string::npos)
        name = installation_.WindowsDirectory() + "\\" + name;
    bool absolute = name.size() >= 3 && name[1] == ':' && (name[2] == '\\' || name[2] == '/');
    if (absolute && !fresh) {
        auto it = resolved_.find(name);
        if (it != resolved_.end()) {
            last_path_ = it->second;
            last_valid_ = true;
            last_file_ = file;
            return &last_path_;
        }
    }
    std::optional<std::string> path = UnixPathOf(installation_, name);
    if (!path) return nullptr;
    if (absolute) resolved_[name] = *path;
    last_path_ = std::move(*path);
    last_valid_ = absolute;
    last_file_ = file;
    return &last_path_;
}

}  // namespace host

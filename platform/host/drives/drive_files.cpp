// Which drive files answer for a path: the providers that registered a root,
// else the host's own. The dispatcher names no provider but the default.
#include "platform/host/drives/drive_files.h"

#include <algorithm>
#include <utility>

namespace host {
namespace {

struct Registered {
    std::string root;
    DriveFiles *files;
};

// The newest registration first. Never destroyed: a provider may take its
// files back while the process ends (the installation goes with the other
// statics), after a list destroyed in turn would be gone.
std::vector<Registered> &Registrations()
{
    static auto *registered = new std::vector<Registered>;
    return *registered;
}

}  // namespace

FileStamp StampOf(const struct stat &st)
{
    FileStamp s;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.mtime_ns = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return s;
}

bool IsImagePath(std::string_view path)
{
    return path.compare(0, sizeof kImageRoot - 1, kImageRoot) == 0;
}

DriveFilesRegistration::DriveFilesRegistration(std::string root, DriveFiles &files) : files_(&files)
{
    std::vector<Registered> &registered = Registrations();
    registered.insert(registered.begin(), Registered{std::move(root), files_});
}

DriveFilesRegistration::~DriveFilesRegistration()
{
    std::vector<Registered> &registered = Registrations();
    auto it = std::find_if(registered.begin(), registered.end(),
                           [this](const Registered &r) { return r.files == files_; });
    if (it != registered.end()) registered.erase(it);
}

DriveFiles &FilesOf(const std::string &path)
{
    for (const Registered &r : Registrations()) {
        if (path.compare(0, r.root.size(), r.root) == 0) return *r.files;
    }
    return HostFiles();
}

}  // namespace host

#include "platform/host/drives/image_files.h"

#include <strings.h>

#include <algorithm>
#include <cctype>

namespace host {
namespace {

// The path below the volume's root: "fat:/WINDOWS/WIN.INI" gives
// "WINDOWS/WIN.INI", "fat:" gives "".
std::string Inner(const std::string &path)
{
    std::size_t start = sizeof kImageRoot - 1;
    while (start < path.size() && path[start] == '/') ++start;
    std::string inner = path.substr(std::min(start, path.size()));
    while (!inner.empty() && inner.back() == '/') inner.pop_back();
    return inner;
}

// FAT names are the same whatever their letter case.
std::string Key(const std::string &inner)
{
    std::string key = inner;
    for (char &c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key;
}

void Split(const std::string &inner, std::string *folder, std::string *name)
{
    std::size_t slash = inner.rfind('/');
    *folder = slash == std::string::npos ? "" : inner.substr(0, slash);
    *name = slash == std::string::npos ? inner : inner.substr(slash + 1);
}

}  // namespace

// WIN.INI taken for replacing; the image lock keeps other writers off for
// the whole run, so taking it needs no lock of its own.
class ImageReplacement : public FileReplacement {
public:
    ImageReplacement(ImageFiles &files, std::string inner)
        : files_(files), inner_(std::move(inner)), generation_(files.generation_)
    {
    }

    bool Commit(const Contents &contents, std::string *why) override
    {
        // mcopy takes the file on its standard input, whole: measured
        // first, so that it is gathered in one buffer without regrowing.
        std::size_t size = 0;
        contents([&](std::string_view piece) { size += piece.size(); });
        std::string bytes;
        bytes.reserve(size);
        contents([&](std::string_view piece) { bytes.append(piece); });
        std::string reason, folder, name;
        Split(inner_, &folder, &name);
        // The listing taken with the file serves while nothing has changed
        // the drive since.
        FatImageDrive::Listing *listing = files_.generation_ == generation_ ? files_.Listing(folder) : nullptr;
        bool ok = listing ? files_.drive_.ReplaceListed(inner_, *listing, bytes, &reason)
                          : files_.drive_.Replace(inner_, bytes, &reason);
        files_.Changed(folder);
        if (!ok) {
            *why = ImageFiles::AboutTheImage(reason);
            return false;
        }
        files_.contents_[Key(inner_)] = std::move(bytes);
        files_.replaced_ = true;
        return true;
    }

    bool CouldCommit(std::size_t size, std::string *why) override
    {
        std::string folder, name, reason;
        Split(inner_, &folder, &name);
        if (files_.drive_.HasRoomFor(name, size, &reason)) return true;
        *why = ImageFiles::AboutTheImage(reason);
        return false;
    }

private:
    ImageFiles &files_;
    std::string inner_;
    long long generation_;
};

std::string ImageFiles::AboutTheImage(const std::string &reason)
{
    if (reason.compare(0, 10, "the image ") == 0) return reason;
    if (reason.compare(0, 4, "has ") == 0 || reason.compare(0, 3, "is ") == 0 ||
        reason.compare(0, 6, "holds ") == 0 || reason.compare(0, 7, "cannot ") == 0)
        return "the image " + reason;
    return "the image: " + reason;
}

std::string ImageFiles::Trouble() const
{
    // A child that died read nothing that can be trusted, the folders it
    // listed included.
    if (!drive_.ChildDied().empty()) return AboutTheImage(Died());
    return drive_.Trouble().empty() ? std::string() : AboutTheImage(drive_.Trouble());
}

FatImageDrive::Listing *ImageFiles::Listing(const std::string &inner)
{
    std::string key = Key(inner);
    auto it = listings_.find(key);
    if (it == listings_.end()) {
        FatImageDrive::Listing entries;
        std::optional<FatImageDrive::Listing> listing;
        if (drive_.ListFolder(inner, false, &entries, nullptr)) listing = std::move(entries);
        else if (ChildDied()) return nullptr;  // not kept: it says nothing about the folder
        it = listings_.emplace(key, std::move(listing)).first;
    }
    return it->second ? &*it->second : nullptr;
}

DriveEntry *ImageFiles::Entry(const std::string &inner)
{
    std::string folder, name;
    Split(inner, &folder, &name);
    FatImageDrive::Listing *listing = Listing(folder);
    if (!listing) return nullptr;
    for (DriveEntry &e : listing->entries)
        if (strcasecmp(e.name.c_str(), name.c_str()) == 0) return &e;
    return nullptr;
}

void ImageFiles::Changed(const std::string &inner_folder)
{
    std::string prefix = Key(inner_folder);
    listings_.erase(prefix);
    if (!prefix.empty()) prefix += '/';
    for (auto it = contents_.begin(); it != contents_.end();) {
        bool inside = it->first.compare(0, prefix.size(), prefix) == 0 &&
                      it->first.find('/', prefix.size()) == std::string::npos;
        it = inside ? contents_.erase(it) : std::next(it);
    }
    ++generation_;
}

bool ImageFiles::Exists(const std::string &path)
{
    std::string inner = Inner(path);
    return inner.empty() ? true : Entry(inner) != nullptr;
}

bool ImageFiles::IsFolder(const std::string &path)
{
    std::string inner = Inner(path);
    if (inner.empty()) return true;
    const DriveEntry *e = Entry(inner);
    return e && e->folder;
}

bool ImageFiles::List(const std::string &folder, std::vector<std::string> *names)
{
    const FatImageDrive::Listing *listing = Listing(Inner(folder));
    if (!listing) return false;
    names->clear();
    for (const DriveEntry &e : listing->entries) names->push_back(e.name);
    return true;
}

bool ImageFiles::Stamp(const std::string &path, FileStamp *stamp)
{
    std::string inner = Inner(path);
    const DriveEntry *e = inner.empty() ? nullptr : Entry(inner);
    if (!e || e->folder) return false;
    *stamp = FileStamp();
    stamp->size = static_cast<off_t>(e->size);
    stamp->mtime_ns = generation_;
    return true;
}

bool ImageFiles::Read(const std::string &path, std::string *bytes, FileStamp *stamp, std::size_t limit)
{
    std::string inner = Inner(path);
    if (!Stamp(path, stamp)) return false;
    std::string key = Key(inner);
    auto it = contents_.find(key);
    if (it == contents_.end()) {
        std::string folder, name, read;
        Split(inner, &folder, &name);
        if (!drive_.ReadListed(folder, *Entry(inner), &read)) {
            ChildDied();
            return false;
        }
        it = contents_.emplace(key, std::move(read)).first;
    }
    bytes->assign(it->second, 0, std::min(limit, it->second.size()));
    return true;
}

// A FAT volume has no links: `through_links` changes nothing.
std::unique_ptr<FileReplacement> ImageFiles::BeginReplace(const std::string &path, bool /*through_links*/,
                                                          std::string *bytes, bool *existed, std::string *why)
{
    why->clear();
    bytes->clear();
    std::string inner = Inner(path);
    DriveEntry *e = inner.empty() ? nullptr : Entry(inner);
    *existed = e != nullptr;
    if (ChildDied()) {
        *why = AboutTheImage(Died());
        return nullptr;
    }
    if (!drive_.Writable()) {
        *why = "the image file has no write permission";
        return nullptr;
    }
    if (e && e->folder) {
        *why = "the image's " + inner + " is a folder";
        return nullptr;
    }
    // The read-only attribute: the file may not be written, as on a folder.
    if (e && !drive_.ReadAttributes(inner, e)) {
        *why = ChildDied() ? AboutTheImage(Died()) : "the image's " + inner + " cannot be read";
        return nullptr;
    }
    if (e && e->read_only) return nullptr;
    FileStamp stamp;
    if (e && !Read(path, bytes, &stamp, std::numeric_limits<std::size_t>::max())) {
        *why = ChildDied() ? AboutTheImage(Died())
                           : "the image's " + inner + " cannot be read whole (its cluster chain is damaged)";
        return nullptr;
    }
    return std::make_unique<ImageReplacement>(*this, inner);
}

std::string ImageFiles::Died() const
{
    // A child that dies after WIN.INI was replaced (a later listing) must
    // not make the report say that nothing was.
    return "cannot be read: " + drive_.ChildDied() +
           (replaced_ ? "; WIN.INI had already been replaced, whole" : "; nothing was written");
}

bool ImageFiles::ChildDied()
{
    if (drive_.ChildDied().empty()) return false;
    if (!reported_ && on_child_died_) on_child_died_(AboutTheImage(Died()));
    reported_ = true;
    return true;
}

std::string ImageFiles::DescribeRepair(const std::string &folder)
{
    const FatImageDrive::Listing *listing = Listing(Inner(folder));
    return listing ? FatImageDrive::DescribeRepair(listing->entries) : std::string();
}

bool ImageFiles::Repair(const std::string &folder, std::string *why)
{
    std::string inner = Inner(folder), reason;
    const FatImageDrive::Listing *listing = Listing(inner);
    bool changed = true;
    bool ok = listing ? drive_.RepairListed(inner, listing->entries, &changed, &reason) : drive_.Repair(inner, &reason);
    if (changed) Changed(inner);
    if (!ok) *why = AboutTheImage(reason);
    return ok;
}

}  // namespace host

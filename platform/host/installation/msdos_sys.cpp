#include "platform/host/installation/msdos_sys.h"

#include "platform/host/profile/document.h"

namespace host {
namespace {

// A text file holds no NUL and no control character other than white
// space and the end-of-file mark.
bool IsText(std::string_view bytes)
{
    for (unsigned char c : bytes) {
        if (c < 0x20 && c != '\t' && c != '\r' && c != '\n' && c != 0x1A) return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> MsdosSysWindowsFolder(std::string_view bytes)
{
    if (bytes.size() > kMaxMsdosSysSize || !IsText(bytes)) return std::nullopt;
    // The same rules as the system's profile reads: names without letter
    // case, trimmed.
    ProfileDocument doc = ProfileDocument::Parse(bytes);
    ProfileDocument::KeyValue kv;
    if (!doc.FindKey("Paths", "WinDir", &kv) || !kv.has_value || kv.value.empty()) return std::nullopt;
    return std::string(kv.value);
}

}  // namespace host

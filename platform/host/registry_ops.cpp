// The registry operations, read only, on HKEY_LOCAL_MACHINE as the prefix's
// system.reg holds it.
#include "codepage.h"
#include "prefix.h"
#include "registry_file.h"
#include "win32_api.h"

#include <cstring>
#include <memory>
#include <unordered_set>
#include <vector>

struct HKEY__ {
    std::shared_ptr<const host::RegistryFile> file;
    const host::RegistryKey *key = nullptr;
    std::vector<const host::RegistryKey *> subkeys;  // filled at the first enumeration
    bool listed = false;
};

namespace {

const LONG kErrorBadPathname = 161;
const LONG kErrorInvalidParameter = 87;
const std::size_t kMaxKeyPath = 260;

std::unordered_set<HKEY> &OpenKeys()
{
    static std::unordered_set<HKEY> keys;
    return keys;
}

std::u16string Widen(const char *ansi)
{
    return host::Cp1252ToUtf16(ansi ? ansi : "");
}

std::string Narrow(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) out += static_cast<char>(host::UnicodeToCp1252(c));
    return out;
}

// The hive and key that a handle stands for.
bool Resolve(HKEY key, std::shared_ptr<const host::RegistryFile> *file, const host::RegistryKey **node)
{
    if (key == HKEY_LOCAL_MACHINE) {
        std::string path = host::PrefixRoot() + "/system.reg";
        *file = host::LoadRegistry(path);
        if (!*file) {
            host::ReportUnusablePrefix(host::PrefixRoot(), "its system.reg cannot be read");
            return false;
        }
        *node = &(*file)->Root();
        return true;
    }
    if (!OpenKeys().count(key)) return false;
    *file = key->file;
    *node = key->key;
    return true;
}

bool IsString(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subkey, DWORD, REGSAM, PHKEY result)
{
    if (!result) return ERROR_INVALID_HANDLE;
    *result = nullptr;
    std::shared_ptr<const host::RegistryFile> file;
    const host::RegistryKey *node = nullptr;
    if (!Resolve(key, &file, &node)) return key == HKEY_LOCAL_MACHINE ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_HANDLE;
    // The platform refuses a path that starts with '\' and answers a path
    // longer than its limit as one that does not fit.
    std::u16string path = Widen(subkey);
    if (!path.empty() && path[0] == u'\\') return kErrorBadPathname;
    if (path.size() > kMaxKeyPath) return ERROR_MORE_DATA;
    // A hive whose root is itself made a link key (a key line that names no
    // key, then #link) leaves the machine's key unusable, as in Wine: no key
    // below it opens; an empty path still answers the key itself.
    if (node == &file->Root() && !node->link.empty()) {
        if (!path.empty()) return ERROR_INVALID_HANDLE;
        *result = HKEY_LOCAL_MACHINE;
        return ERROR_SUCCESS;
    }
    bool too_many_links = false;
    const host::RegistryKey *found = file->Find(*node, path, &too_many_links);
    // A look-up that needs more links than the platform follows (links that
    // loop) is answered as an invalid parameter, as Wine answers it.
    if (!found) return too_many_links ? kErrorInvalidParameter : ERROR_FILE_NOT_FOUND;
    HKEY handle = new HKEY__;
    handle->file = file;
    handle->key = found;
    OpenKeys().insert(handle);
    *result = handle;
    return ERROR_SUCCESS;
}

LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD size)
{
    std::shared_ptr<const host::RegistryFile> file;
    const host::RegistryKey *node = nullptr;
    if (!Resolve(key, &file, &node)) return ERROR_INVALID_HANDLE;
    std::vector<const host::RegistryKey *> local;
    std::vector<const host::RegistryKey *> *list = &local;
    if (key != HKEY_LOCAL_MACHINE) {
        list = &key->subkeys;
        if (!key->listed) {
            for (const auto &child : node->subkeys) list->push_back(child.second.get());
            key->listed = true;
        }
    } else {
        for (const auto &child : node->subkeys) list->push_back(child.second.get());
    }
    if (index >= list->size()) return ERROR_NO_MORE_ITEMS;
    std::string text = Narrow((*list)[index]->name);
    if (!name || text.size() >= size) return ERROR_MORE_DATA;
    std::memcpy(name, text.data(), text.size());
    name[text.size()] = '\0';
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    std::shared_ptr<const host::RegistryFile> file;
    const host::RegistryKey *node = nullptr;
    if (!Resolve(key, &file, &node)) return ERROR_INVALID_HANDLE;
    if (data && !size) return ERROR_INVALID_HANDLE;
    const host::RegistryValue *value = file->Value(*node, Widen(value_name));
    if (!value) {
        if (type) *type = REG_NONE;
        return ERROR_FILE_NOT_FOUND;
    }
    if (type) *type = value->type;

    std::string bytes;
    bool needs_nul = false;
    if (IsString(value->type)) {
        // Strings come in the ANSI code page; one stored without its NUL
        // gets one where the buffer has room for it, not counted in the size.
        bytes = host::Utf16ToCp1252(reinterpret_cast<const unsigned char *>(value->data.data()),
                                     value->data.size(), false);
        needs_nul = bytes.empty() || bytes.back() != '\0';
    } else {
        bytes = value->data;
    }
    DWORD length = static_cast<DWORD>(bytes.size());
    LONG status = ERROR_SUCCESS;
    if (data) {
        if (length > *size) {
            status = ERROR_MORE_DATA;
        } else {
            std::memcpy(data, bytes.data(), bytes.size());
            if (needs_nul && length > 0 && length < *size) data[length] = 0;
        }
    }
    if (size) *size = length;
    return status;
}

LONG RegCloseKey(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    if (!OpenKeys().erase(key)) return ERROR_INVALID_HANDLE;
    delete key;
    return ERROR_SUCCESS;
}

// The registry operations, read only, on HKEY_LOCAL_MACHINE as the
// installation's hive holds it (system.reg of a prefix, SYSTEM.DAT of a
// Windows 9x drive).
#include "platform/host/installation/installation.h"
#include "platform/host/installation/out_of_memory.h"
#include "platform/host/registry/hive.h"
#include "platform/host/win32_api.h"

#include <cstring>
#include <memory>
#include <unordered_set>

struct HKEY__ {
    std::shared_ptr<const host::RegistryHive> hive;
    host::HiveKey key = nullptr;
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

// The hive and key that a handle stands for.
bool Resolve(HKEY key, std::shared_ptr<const host::RegistryHive> *hive, host::HiveKey *node)
{
    if (key == HKEY_LOCAL_MACHINE) {
        *hive = host::Installation::Current().Machine();
        if (!*hive) return false;
        *node = (*hive)->Root();
        return true;
    }
    if (!OpenKeys().count(key)) return false;
    *hive = key->hive;
    *node = key->key;
    return true;
}

bool IsString(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

LONG OpenKey(HKEY key, LPCSTR subkey, PHKEY result)
{
    std::shared_ptr<const host::RegistryHive> hive;
    host::HiveKey node = nullptr;
    if (!Resolve(key, &hive, &node)) return key == HKEY_LOCAL_MACHINE ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_HANDLE;
    // The platform refuses a path that starts with '\' and answers a path
    // longer than its limit as one that does not fit.
    std::string_view path = subkey ? subkey : "";
    if (!path.empty() && path[0] == '\\') return kErrorBadPathname;
    if (path.size() > kMaxKeyPath) return ERROR_MORE_DATA;
    host::HiveMiss miss = host::HiveMiss::kAbsent;
    host::HiveKey found = hive->Find(node, path, &miss);
    if (!found) {
        switch (miss) {
        case host::HiveMiss::kRootIsLink:
            // A hive whose root is itself made a link key leaves the
            // machine's key unusable, as in Wine: no key below it opens; an
            // empty path still answers the key itself.
            if (!path.empty()) return ERROR_INVALID_HANDLE;
            *result = HKEY_LOCAL_MACHINE;
            return ERROR_SUCCESS;
        case host::HiveMiss::kTooManyLinks:
            // More links than the platform follows (links that loop): an
            // invalid parameter, as Wine answers it.
            return kErrorInvalidParameter;
        case host::HiveMiss::kAbsent:
            break;
        }
        return ERROR_FILE_NOT_FOUND;
    }
    auto handle = std::make_unique<HKEY__>();
    handle->hive = std::move(hive);
    handle->key = found;
    OpenKeys().insert(handle.get());
    *result = handle.release();
    return ERROR_SUCCESS;
}

LONG EnumKey(HKEY key, DWORD index, LPSTR name, DWORD size)
{
    std::shared_ptr<const host::RegistryHive> hive;
    host::HiveKey node = nullptr;
    if (!Resolve(key, &hive, &node)) return ERROR_INVALID_HANDLE;
    std::string text;
    if (!hive->SubkeyName(node, index, &text)) return ERROR_NO_MORE_ITEMS;
    if (!name || text.size() >= size) return ERROR_MORE_DATA;
    std::memcpy(name, text.data(), text.size());
    name[text.size()] = '\0';
    return ERROR_SUCCESS;
}

LONG QueryValue(HKEY key, LPCSTR value_name, LPDWORD type, LPBYTE data, LPDWORD size)
{
    std::shared_ptr<const host::RegistryHive> hive;
    host::HiveKey node = nullptr;
    if (!Resolve(key, &hive, &node)) return ERROR_INVALID_HANDLE;
    if (data && !size) return ERROR_INVALID_HANDLE;
    uint32_t stored_type = 0;
    std::string bytes;
    if (!hive->Value(node, value_name ? value_name : "", &stored_type, &bytes)) {
        if (type) *type = REG_NONE;
        return ERROR_FILE_NOT_FOUND;
    }
    if (type) *type = stored_type;

    // A string stored without its NUL gets one: on Windows 9x it counts and
    // must fit; Wine adds it only where the buffer has room beyond the text.
    bool needs_nul = IsString(stored_type) && (bytes.empty() || bytes.back() != '\0');
    DWORD length = static_cast<DWORD>(bytes.size());
    if (needs_nul && hive->NulMustFit()) {
        bytes.push_back('\0');
        length = static_cast<DWORD>(bytes.size());
        needs_nul = false;
    }
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

}  // namespace

// A registry call that runs out of memory answers as the platform's does
// when the kernel has none: STATUS_NO_MEMORY, which is
// ERROR_NOT_ENOUGH_MEMORY to a Win32 caller.
LONG RegOpenKeyExA(HKEY key, LPCSTR subkey, DWORD, REGSAM, PHKEY result)
{
    if (!result) return ERROR_INVALID_HANDLE;
    *result = nullptr;
    return host::AnswerOnOutOfMemory(ERROR_NOT_ENOUGH_MEMORY, [&] { return OpenKey(key, subkey, result); });
}

LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD size)
{
    return host::AnswerOnOutOfMemory(ERROR_NOT_ENOUGH_MEMORY, [&] { return EnumKey(key, index, name, size); });
}

LONG RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    return host::AnswerOnOutOfMemory(ERROR_NOT_ENOUGH_MEMORY,
                                     [&] { return QueryValue(key, value_name, type, data, size); });
}

// Frees what it holds and allocates nothing: no guard.
LONG RegCloseKey(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    if (!OpenKeys().erase(key)) return ERROR_INVALID_HANDLE;
    delete key;
    return ERROR_SUCCESS;
}

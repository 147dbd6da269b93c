// One registry hive as the registry operations see it, whatever file holds
// it: Wine's system.reg or a Windows 9x SYSTEM.DAT. Keys are opaque handles,
// valid while the hive lives.
#ifndef PFMSETUP_PLATFORM_HOST_REGISTRY_HIVE_H
#define PFMSETUP_PLATFORM_HOST_REGISTRY_HIVE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace host {

using HiveKey = const void *;

// Why a look-up found no key, where it is not simply absent.
enum class HiveMiss {
    kAbsent,
    kTooManyLinks,  // it needs more symbolic links than are followed (links that loop)
    kRootIsLink,    // the hive's root is itself a link: no key of it can be opened
};

class RegistryHive {
public:
    virtual ~RegistryHive() = default;
    virtual HiveKey Root() const = 0;
    // The key at a '\'-separated path of ANSI names below `from`, names
    // compared without letter case; null when there is none or the path
    // cannot be followed (a link loop, a broken tree), and then `miss`, if
    // given, says why.
    virtual HiveKey Find(HiveKey from, std::string_view path, HiveMiss *miss = nullptr) const = 0;
    // The name of the subkey at `index` in the hive's own enumeration order,
    // in the ANSI code page; false past the end.
    virtual bool SubkeyName(HiveKey key, std::size_t index, std::string *name) const = 0;
    // A value by name (without letter case; "" the default value): its type
    // and data as stored, strings as ANSI bytes.
    virtual bool Value(HiveKey key, std::string_view name, uint32_t *type, std::string *data) const = 0;
    // How a string stored without its terminating NUL is handed out. Windows
    // 9x hands it out with one and refuses a buffer without room for it;
    // Wine hands it out in a buffer that just fits it, without the NUL.
    virtual bool NulMustFit() const { return false; }
};

}  // namespace host

#endif

// One registry hive as the registry operations see it, whatever file holds
// it: Wine's system.reg or the SYSTEM.DAT of a Windows 95/98/Me drive.
#ifndef PFMSETUP_PLATFORM_HOST_REGISTRY_HIVE_H
#define PFMSETUP_PLATFORM_HOST_REGISTRY_HIVE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace host {

// One registry hive as the registry operations see it. Keys are opaque handles valid while the hive lives.
using HiveKey = const void *;
class RegistryHive {
public:
    virtual ~RegistryHive() = default;
    virtual HiveKey Root() const = 0;
    // The key at a '\'-separated path of ANSI names below `from`, names compared without letter case; null when
    // there is none or the path cannot be followed (a link loop, a broken tree).
    virtual HiveKey Find(HiveKey from, std::string_view path) const = 0;
    // The name of the subkey at `index` in the hive's own enumeration order, in the ANSI code page; false past the end.
    virtual bool SubkeyName(HiveKey key, std::size_t index, std::string *name) const = 0;
    // A value by name (without letter case; "" the default value): its type and data as stored, strings as ANSI bytes.
    virtual bool Value(HiveKey key, std::string_view name, uint32_t *type, std::string *data) const = 0;
};

}  // namespace host

#endif

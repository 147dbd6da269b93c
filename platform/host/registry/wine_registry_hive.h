// A hive in Wine's text format (system.reg) as a RegistryHive: subkeys in
// the order Wine enumerates them (sorted by name without letter case),
// strings converted from the file's UTF-16 to the ANSI code page.
#ifndef PFMSETUP_PLATFORM_HOST_REGISTRY_WINE_HIVE_H
#define PFMSETUP_PLATFORM_HOST_REGISTRY_WINE_HIVE_H

#include "platform/host/registry/wine_registry_text.h"
#include "platform/host/registry/hive.h"

#include <memory>
#include <unordered_map>
#include <vector>

namespace host {

class WineRegistryHive : public RegistryHive {
public:
    explicit WineRegistryHive(std::shared_ptr<const RegistryFile> file) : file_(std::move(file)) {}

    HiveKey Root() const override { return &file_->Root(); }
    HiveKey Find(HiveKey from, std::string_view path, HiveMiss *miss = nullptr) const override;
    bool SubkeyName(HiveKey key, std::size_t index, std::string *name) const override;
    bool Value(HiveKey key, std::string_view name, uint32_t *type, std::string *data) const override;

private:
    std::shared_ptr<const RegistryFile> file_;
    // A key's subkeys in order, listed at its first enumeration: a map walked
    // to an index for every call would cost the square of their number.
    mutable std::unordered_map<HiveKey, std::vector<const RegistryKey *>> listed_;
};

}  // namespace host

#endif

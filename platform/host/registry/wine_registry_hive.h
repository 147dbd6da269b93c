// A hive in Wine's text format (system.reg) as a RegistryHive: subkeys in
// the order Wine enumerates them (sorted by name without letter case),
// strings converted between the file's UTF-16 and the ANSI code page it is
// given (the installation's).
#ifndef PFMSETUP_PLATFORM_HOST_REGISTRY_WINE_REGISTRY_HIVE_H
#define PFMSETUP_PLATFORM_HOST_REGISTRY_WINE_REGISTRY_HIVE_H

#include "platform/host/registry/wine_registry_text.h"
#include "platform/host/registry/hive.h"
#include "platform/host/text/code_page.h"

#include <memory>
#include <unordered_map>
#include <vector>

namespace host {

class WineRegistryHive : public RegistryHive {
public:
    WineRegistryHive(std::shared_ptr<const RegistryFile> file, const CodePage &code_page)
        : file_(std::move(file)), code_page_(code_page)
    {
    }

    HiveKey Root() const override { return &file_->Root(); }
    HiveKey Find(HiveKey from, std::string_view path, HiveMiss *miss = nullptr) const override;
    bool SubkeyName(HiveKey key, std::size_t index, std::string *name) const override;
    bool Value(HiveKey key, std::string_view name, uint32_t *type, std::string *data) const override;

private:
    std::shared_ptr<const RegistryFile> file_;
    const CodePage &code_page_;
    // A key's subkeys in order, listed at its first enumeration: a map walked
    // to an index for every call would cost the square of their number.
    mutable std::unordered_map<HiveKey, std::vector<const RegistryKey *>> listed_;
};

}  // namespace host

#endif

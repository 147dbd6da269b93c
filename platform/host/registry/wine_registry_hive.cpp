#include "platform/host/registry/wine_registry_hive.h"

namespace host {
namespace {

const RegistryKey *KeyOf(HiveKey key)
{
    return static_cast<const RegistryKey *>(key);
}

bool IsString(uint32_t type)
{
    return type == 1 /* REG_SZ */ || type == 2 /* REG_EXPAND_SZ */ || type == 7 /* REG_MULTI_SZ */;
}

}  // namespace

HiveKey WineRegistryHive::Find(HiveKey from, std::string_view path, HiveMiss *miss) const
{
    if (miss) *miss = HiveMiss::kAbsent;
    if (KeyOf(from) == &file_->Root() && file_->Root().is_link) {
        if (miss) *miss = HiveMiss::kRootIsLink;
        return nullptr;
    }
    bool too_many_links = false;
    const RegistryKey *found = file_->Find(*KeyOf(from), code_page_.ToUtf16(path), &too_many_links);
    if (!found && too_many_links && miss) *miss = HiveMiss::kTooManyLinks;
    return found;
}

bool WineRegistryHive::SubkeyName(HiveKey key, std::size_t index, std::string *name) const
{
    auto it = listed_.find(key);
    if (it == listed_.end()) {
        std::vector<const RegistryKey *> list;
        for (const auto &child : KeyOf(key)->subkeys) list.push_back(child.second.get());
        it = listed_.emplace(key, std::move(list)).first;
    }
    if (index >= it->second.size()) return false;
    *name = code_page_.FromUtf16(it->second[index]->name);
    return true;
}

bool WineRegistryHive::Value(HiveKey key, std::string_view name, uint32_t *type, std::string *data) const
{
    const RegistryValue *value = file_->Value(*KeyOf(key), code_page_.ToUtf16(name));
    if (!value) return false;
    *type = value->type;
    if (IsString(value->type)) {
        *data = code_page_.FromUtf16(reinterpret_cast<const unsigned char *>(value->data.data()),
                                     value->data.size(), false);
    } else {
        *data = value->data;
    }
    return true;
}

}  // namespace host

// A registry hive in Wine's text format (system.reg, user.reg), read into
// a tree of keys and values. Names are kept in UTF-16 as the registry holds
// them; string data keep their terminating NUL, other data their bytes.
#ifndef PFMSETUP_PLATFORM_HOST_REGISTRY_WINE_REGISTRY_TEXT_H
#define PFMSETUP_PLATFORM_HOST_REGISTRY_WINE_REGISTRY_TEXT_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct RegistryValue {
    uint32_t type = 0;
    std::string data;  // the bytes as stored
};

// Key names compare without letter case and sort as Wine sorts subkeys.
struct RegistryNameLess {
    bool operator()(const std::u16string &a, const std::u16string &b) const;
};

struct RegistryKey {
    std::u16string name;
    std::map<std::u16string, std::unique_ptr<RegistryKey>, RegistryNameLess> subkeys;
    std::map<std::u16string, RegistryValue> values;  // by folded name; "" is the default value
    bool is_link = false;  // a symbolic link key (#link)
    std::u16string link;   // its target below the hive's root; empty when it names none there
};

class RegistryFile {
public:
    // Parses the text of a hive; lines that cannot be read are skipped.
    static std::unique_ptr<RegistryFile> Parse(std::string_view text);

    const RegistryKey &Root() const { return root_; }
    // The key at a path of names separated by '\', below `from`; symbolic
    // links are followed, at most 32 in one look-up. Null when there is
    // none, and also when a link has no target or the look-up needs more
    // links (links that loop); `too_many_links`, if given, tells the last.
    const RegistryKey *Find(const RegistryKey &from, std::u16string_view path,
                            bool *too_many_links = nullptr) const;
    const RegistryValue *Value(const RegistryKey &key, std::u16string_view name) const;

private:
    RegistryKey *Create(std::u16string_view path);
    RegistryKey root_;
};

}  // namespace host

#endif

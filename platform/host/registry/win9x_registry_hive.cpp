#include "platform/host/registry/win9x_registry_hive.h"

#include "platform/host/text/code_page.h"
#include "platform/host/registry/win9x_registry_check.h"

#include <libcreg.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace host {
namespace {

// The one place where the installation's ANSI code page matters to the
// reader: how two names compare without letter case. Names are read and
// answered as the bytes the file stores, and compared here, not by libcreg:
// its look-ups by name (version 20200725) find wrong keys ("Key6" finds a
// sibling "Key7"). Letter case folds by the code page's rules
// (CodePage::FoldCase).
class NameRules {
public:
    explicit NameRules(int ascii_codepage) : code_page_(CodePage::ForNumber(static_cast<unsigned>(ascii_codepage))) {}
    // What libcreg decodes names with for its UTF-8 answers, which the
    // reader does not use; 1252 maps every byte, so no name fails to load.
    int LibcregCodepage() const { return 1252; }
    std::string Fold(std::string_view name) const { return code_page_.FoldCase(name); }
    // The next backslash of a key path from `from`, or the path's end: a
    // separator is a character, so the second byte of a double-byte
    // character (in 932, that of "表" or "ソ") is none.
    std::size_t NextSeparator(std::string_view path, std::size_t from) const
    {
        std::size_t i = from;
        while (i < path.size() && path[i] != '\\')
            i += code_page_.IsLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size() ? 2 : 1;
        return std::min(i, path.size());
    }

private:
    const CodePage &code_page_;
};

// More subkeys than this under one key are not enumerated: no real
// installation comes near, and a list this long can only be a broken file.
constexpr std::size_t kMaxSubkeys = 65536;

// The format's offsets reach 4 GB; the registry of these systems stays
// far below this, and a larger file is not read into memory.
constexpr uint64_t kMaxFileSize = 256u << 20;

std::string TakeError(libcreg_error_t **error)
{
    std::string text;
    if (*error) {
        char buffer[512];
        if (libcreg_error_sprint(*error, buffer, sizeof buffer) > 0) text = buffer;
        libcreg_error_free(error);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '.')) text.pop_back();
    return text;
}

// The whole file behind `fd`, or why it cannot be had.
std::string ReadWhole(int fd, std::string *bytes)
{
    struct stat st;
    if (fstat(fd, &st) != 0) return std::strerror(errno);
    if (!S_ISREG(st.st_mode)) return "not a file";
    if (static_cast<uint64_t>(st.st_size) > kMaxFileSize) return "too large for a registry file";
    bytes->resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes->size()) {
        ssize_t n = read(fd, &(*bytes)[got], bytes->size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::strerror(errno);
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    bytes->resize(got);
    return std::string();
}

// libcreg's reason, in parentheses, when it gives one.
std::string Detail(libcreg_error_t **error)
{
    std::string text = TakeError(error);
    return text.empty() ? text : " (" + text + ")";
}

void DropError(libcreg_error_t **error)
{
    if (*error) libcreg_error_free(error);
}

// A name as the file stores it, cut at a NUL as the ANSI calls would cut it.
template <typename Object, typename SizeFn, typename NameFn>
bool StoredName(Object *object, SizeFn size_fn, NameFn name_fn, std::string *name)
{
    libcreg_error_t *error = nullptr;
    size_t size = 0;
    if (size_fn(object, &size, &error) != 1) {
        DropError(&error);
        return false;
    }
    std::vector<uint8_t> buffer(size + 1, 0);
    if (size > 0 && name_fn(object, buffer.data(), buffer.size(), &error) != 1) {
        DropError(&error);
        return false;
    }
    name->assign(reinterpret_cast<const char *>(buffer.data()), size);
    std::size_t nul = name->find('\0');
    if (nul != std::string::npos) name->resize(nul);
    return true;
}

class Win9xRegistry final : public RegistryHive {
public:
    explicit Win9xRegistry(NameRules rules) : rules_(rules) {}

    ~Win9xRegistry() override
    {
        root_.reset();  // the keys go before their file
        if (file_) {
            if (open_) libcreg_file_close(file_, nullptr);
            libcreg_file_free(&file_, nullptr);
        }
    }

    // An empty text, or the reason the file cannot be read.
    std::string Open(const std::string &path)
    {
        libcreg_error_t *error = nullptr;
        if (libcreg_file_initialize(&file_, &error) != 1) return TakeError(&error);
        if (libcreg_file_set_ascii_codepage(file_, rules_.LibcregCodepage(), &error) != 1 ||
            libcreg_file_open(file_, path.c_str(), LIBCREG_OPEN_READ, &error) != 1)
            return "not a registry file that can be read" + Detail(&error);
        open_ = true;
        libcreg_key_t *root = nullptr;
        if (libcreg_file_get_root_key(file_, &root, &error) != 1 || !root)
            return "the registry file has no root key" + Detail(&error);
        root_ = std::make_unique<Node>();
        root_->key = root;
        return std::string();
    }

    HiveKey Root() const override { return root_.get(); }
    // Windows 9x hands a string stored without its NUL out with one.
    bool NulMustFit() const override { return true; }

    // The file has no links: a key that is not found is absent.
    HiveKey Find(HiveKey from, std::string_view path, HiveMiss *miss = nullptr) const override
    {
        if (miss) *miss = HiveMiss::kAbsent;
        Node *node = static_cast<Node *>(const_cast<void *>(from));
        if (!node) return nullptr;
        std::size_t i = 0;
        while (node && i <= path.size()) {
            std::size_t j = rules_.NextSeparator(path, i);
            if (j > i) node = Subkey(node, path.substr(i, j - i));
            i = j + 1;
        }
        return node;
    }

    bool SubkeyName(HiveKey key, std::size_t index, std::string *name) const override
    {
        Node *node = static_cast<Node *>(const_cast<void *>(key));
        if (!node) return false;
        if (!node->listed) List(node);
        if (index >= node->subkeys.size()) return false;
        *name = node->subkeys[index];
        return true;
    }

    bool Value(HiveKey key, std::string_view name, uint32_t *type, std::string *data) const override
    {
        Node *node = static_cast<Node *>(const_cast<void *>(key));
        if (!node) return false;
        if (!node->values_listed) ListValues(node);
        std::string folded = rules_.Fold(name);
        for (std::size_t i = 0; i < node->values.size(); ++i) {
            if (node->values[i] != folded) continue;
            libcreg_error_t *error = nullptr;
            libcreg_value_t *value = nullptr;
            if (libcreg_key_get_value_by_index(node->key, static_cast<int>(i), &value, &error) != 1) {
                DropError(&error);
                return false;
            }
            bool ok = ReadValue(value, type, data);
            libcreg_value_free(&value, nullptr);
            return ok;
        }
        return false;
    }

private:
    struct Node {
        ~Node() { libcreg_key_free(&key, nullptr); }
        libcreg_key_t *key = nullptr;
        bool listed = false;
        std::vector<std::string> subkeys;  // names as stored, in the file's order
        std::vector<std::string> folded;   // the same, folded
        // The subkeys looked up so far, by their place in the list: one
        // handle per key, however its name was spelt.
        std::map<std::size_t, std::unique_ptr<Node>> found;
        bool values_listed = false;
        std::vector<std::string> values;  // folded names, in the file's order
    };

    static bool ReadValue(libcreg_value_t *value, uint32_t *type, std::string *data)
    {
        libcreg_error_t *error = nullptr;
        uint32_t stored_type = 0;
        size_t size = 0;
        if (libcreg_value_get_value_type(value, &stored_type, &error) != 1 ||
            libcreg_value_get_value_data_size(value, &size, &error) != 1) {
            DropError(&error);
            return false;
        }
        std::vector<uint8_t> bytes(size);
        if (size > 0 && libcreg_value_get_value_data(value, bytes.data(), size, &error) != 1) {
            DropError(&error);
            return false;
        }
        if (type) *type = stored_type;
        if (data) data->assign(bytes.begin(), bytes.end());
        return true;
    }

    // The first subkey of that name, as Windows 9x finds the first.
    Node *Subkey(Node *node, std::string_view name) const
    {
        if (!node->listed) List(node);
        std::string folded = rules_.Fold(name);
        for (std::size_t i = 0; i < node->folded.size(); ++i) {
            if (node->folded[i] != folded) continue;
            std::unique_ptr<Node> &child = node->found[i];
            if (!child) {
                libcreg_error_t *error = nullptr;
                libcreg_key_t *sub = nullptr;
                if (libcreg_key_get_sub_key_by_index(node->key, static_cast<int>(i), &sub, &error) != 1) {
                    DropError(&error);
                    return nullptr;
                }
                child = std::make_unique<Node>();
                child->key = sub;
            }
            return child.get();
        }
        return nullptr;
    }

    void ListValues(Node *node) const
    {
        node->values_listed = true;
        libcreg_error_t *error = nullptr;
        int count = 0;
        // The root has no record, and libcreg no values for it.
        if (libcreg_key_get_number_of_values(node->key, &count, &error) != 1) {
            DropError(&error);
            return;
        }
        for (int i = 0; i < count; ++i) {
            libcreg_value_t *value = nullptr;
            if (libcreg_key_get_value_by_index(node->key, i, &value, &error) != 1) {
                DropError(&error);
                return;
            }
            std::string name;
            bool ok = StoredName(value, libcreg_value_get_name_size, libcreg_value_get_name, &name);
            libcreg_value_free(&value, nullptr);
            if (!ok) return;
            node->values.push_back(rules_.Fold(name));
        }
    }

    void List(Node *node) const
    {
        node->listed = true;
        libcreg_error_t *error = nullptr;
        int count = 0;
        if (libcreg_key_get_number_of_sub_keys(node->key, &count, &error) != 1) {
            DropError(&error);
            return;
        }
        std::size_t limit = count < 0 ? 0 : static_cast<std::size_t>(count);
        if (limit > kMaxSubkeys) limit = kMaxSubkeys;
        for (std::size_t i = 0; i < limit; ++i) {
            libcreg_key_t *sub = nullptr;
            // A subkey that cannot be read ends the list there, as a broken
            // chain of siblings would end it.
            if (libcreg_key_get_sub_key_by_index(node->key, static_cast<int>(i), &sub, &error) != 1) {
                DropError(&error);
                return;
            }
            std::string name;
            bool ok = StoredName(sub, libcreg_key_get_name_size, libcreg_key_get_name, &name);
            libcreg_key_free(&sub, nullptr);
            if (!ok) return;
            node->folded.push_back(rules_.Fold(name));
            node->subkeys.push_back(std::move(name));
        }
    }

    NameRules rules_;
    libcreg_file_t *file_ = nullptr;
    bool open_ = false;
    std::unique_ptr<Node> root_;
};

}  // namespace

std::unique_ptr<RegistryHive> OpenWin9xRegistry(const std::string &unix_path, std::string *why, int ascii_codepage)
{
    std::string discard;
    if (!why) why = &discard;
    std::string problem;
    int fd = open(unix_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *why = unix_path + ": " + std::strerror(errno);
        return nullptr;
    }
    std::string bytes;
    problem = ReadWhole(fd, &bytes);
    if (problem.empty()) problem = CheckWin9xRegistry(bytes);
    std::unique_ptr<Win9xRegistry> hive;
    if (problem.empty()) {
        // libcreg opens the file that was checked through its descriptor,
        // and so reads that file even if the name now leads elsewhere.
        hive = std::make_unique<Win9xRegistry>(NameRules(ascii_codepage));
        problem = hive->Open("/proc/self/fd/" + std::to_string(fd));
    }
    close(fd);
    if (!problem.empty()) {
        *why = unix_path + ": " + problem;
        return nullptr;
    }
    return hive;
}

}  // namespace host

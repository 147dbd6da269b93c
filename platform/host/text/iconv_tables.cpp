#include "platform/host/text/iconv_tables.h"

#include <iconv.h>

#include <cerrno>
#include <mutex>
#include <unordered_map>

namespace host {
namespace {

// One iconv descriptor, closed with its owner.
class Converter {
public:
    Converter(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts `in` on its own, from a fresh state, flushing what a stateful
    // converter holds back. The bytes written, or -1 when the input is
    // invalid, -2 when it is incomplete.
    int Convert(const char *in, std::size_t in_size, char *out, std::size_t out_size)
    {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char *src = const_cast<char *>(in);
        char *dst = out;
        std::size_t left = out_size;
        std::size_t r = iconv(cd_, &src, &in_size, &dst, &left);
        if (r == static_cast<std::size_t>(-1)) return errno == EINVAL ? -2 : -1;
        if (iconv(cd_, nullptr, nullptr, &dst, &left) == static_cast<std::size_t>(-1)) return -1;
        return static_cast<int>(out_size - left);
    }

private:
    iconv_t cd_;
};

// The one UTF-16 unit that `n` bytes of UTF-16LE hold, or kNone.
char16_t OneUnit(const char *utf16, int n)
{
    if (n != 2) return CodePageTable::kNone;
    char16_t u = static_cast<char16_t>(static_cast<unsigned char>(utf16[0]) |
                                       static_cast<unsigned char>(utf16[1]) << 8);
    return u >= 0xD800 && u < 0xE000 ? CodePageTable::kNone : u;
}

const char *IconvName(unsigned number)
{
    switch (number) {
    case 874: return "CP874";
    case 932: return "CP932";  // Microsoft's Shift JIS: 0x5C is the backslash
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1252: return "CP1252";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    default: return nullptr;
    }
}

}  // namespace

std::unique_ptr<CodePageTable> CodePageTable::Make(const char *iconv_name)
{
    Converter decode("UTF-16LE", iconv_name);
    Converter encode(iconv_name, "UTF-16LE");
    if (!decode.ok() || !encode.ok()) return nullptr;
    std::unique_ptr<CodePageTable> table(new CodePageTable);
    char out[16];
    for (unsigned b = 0; b < 256; ++b) {
        char in = static_cast<char>(b);
        int n = decode.Convert(&in, 1, out, sizeof out);
        table->single_[b] = OneUnit(out, n);
        if (n == -2 && b >= 0x80 && table->leads_.size() < 255) {
            table->leads_.emplace_back(256, kNone);
            table->lead_index_[b] = static_cast<std::uint8_t>(table->leads_.size());
            std::vector<char16_t> &row = table->leads_.back();
            for (unsigned t = 0; t < 256; ++t) {
                char pair[2] = {in, static_cast<char>(t)};
                row[t] = OneUnit(out, decode.Convert(pair, 2, out, sizeof out));
            }
        } else if (n < 0 && b >= 0x80 && b < 0xA0) {
            table->single_[b] = static_cast<char16_t>(b);
        }
    }

    table->bytes_.assign(0x10000, kNoBytes);
    for (unsigned u = 0; u < 0x10000; ++u) {
        if (u >= 0xD800 && u < 0xE000) continue;
        char in[2] = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        int n = encode.Convert(in, 2, out, sizeof out);
        unsigned char b0 = static_cast<unsigned char>(out[0]);
        unsigned char b1 = static_cast<unsigned char>(out[1]);
        if (n == 1 && !table->IsLeadByte(b0) && table->single_[b0] == u) {
            table->bytes_[u] = b0;
        } else if (n == 2 && table->Double(b0, b1) == u) {
            table->bytes_[u] = static_cast<std::uint16_t>(b0 << 8 | b1);
        }
    }
    // The C1 controls stand for the undefined bytes of the same value.
    for (unsigned b = 0x80; b < 0xA0; ++b) {
        if (table->single_[b] == b && table->bytes_[b] == kNoBytes) table->bytes_[b] = static_cast<std::uint16_t>(b);
    }
    return table;
}

const CodePageTable *CodePageTable::For(unsigned number)
{
    static std::mutex mutex;
    static std::unordered_map<unsigned, std::unique_ptr<CodePageTable>> tables;
    const char *name = IconvName(number);
    if (!name) return nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = tables.find(number);
    if (it == tables.end()) it = tables.emplace(number, Make(name)).first;
    return it->second.get();
}

}  // namespace host

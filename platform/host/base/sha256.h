// SHA-256, fed in pieces: what a run wrote into win.ini and what it kept
// of the file before are recorded by their length and this hash, so that
// `sha256sum` checks a kept file by hand.
#ifndef PFMSETUP_PLATFORM_HOST_SHA256_H
#define PFMSETUP_PLATFORM_HOST_SHA256_H

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace host {

class Sha256 {
public:
    Sha256();
    void Add(std::string_view bytes);
    // The hash of everything added, as 64 lower-case hexadecimal digits.
    // Ends the hash: nothing may be added after.
    std::string Hex();

private:
    std::array<uint32_t, 8> state_;
    void (*blocks_)(uint32_t *state, const unsigned char *data, std::size_t blocks);
    unsigned char buffer_[64];
    std::size_t buffered_ = 0;
    uint64_t length_ = 0;
};

// A file's contents as a backup records them.
struct ContentDigest {
    uint64_t length = 0;
    std::string sha256;
    bool operator==(const ContentDigest &o) const { return length == o.length && sha256 == o.sha256; }
    bool operator!=(const ContentDigest &o) const { return !(*this == o); }
};
ContentDigest DigestOf(std::string_view bytes);

}  // namespace host

#endif

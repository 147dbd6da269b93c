// SHA-256 as FIPS 180-4 gives it, fed whole or in pieces of every size,
// and its speed-up against the portable rounds.
#include "platform/host/base/sha256.h"
#include "platform/host/base/sha256_blocks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

TEST(Sha256, GivesTheStandardsDigestsWhateverThePiecesItIsFedIn)
{
    const struct {
        std::string text;
        const char *hex;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto &c : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{1000}, c.text.size()}) {
            if (piece == 0 || (piece == 1 && c.text.size() > 1000)) continue;
            host::Sha256 hash;
            for (std::size_t at = 0; at < c.text.size(); at += piece) hash.Add(std::string_view(c.text).substr(at, piece));
            EXPECT_EQ(c.hex, hash.Hex()) << c.text.size() << " bytes in pieces of " << piece;
        }
    }
}

TEST(Sha256, TheProcessorsRoundsAgreeWithThePortableOnes)
{
    if (host::ChooseSha256Blocks() != host::Sha256BlocksShaNi || !host::Sha256BlocksShaNi)
        GTEST_SKIP() << "this processor has no SHA extensions";
    std::mt19937 random(180);
    std::string data(64 * 40, '\0');
    for (char &c : data) c = static_cast<char>(random());
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.data());
    for (std::size_t blocks : {1u, 2u, 3u, 40u}) {
        uint32_t portable[8], fast[8];
        for (int i = 0; i < 8; ++i) portable[i] = fast[i] = static_cast<uint32_t>(random());
        host::Sha256BlocksPortable(portable, bytes, blocks);
        host::Sha256BlocksShaNi(fast, bytes, blocks);
        EXPECT_EQ(0, std::memcmp(portable, fast, sizeof portable)) << blocks << " blocks";
    }
}

}  // namespace

// SHA-256 rounds on the processor's SHA extensions (sha256_blocks.h). The
// state is kept as the instructions want it, ABEF and CDGH, for the whole
// run of blocks; each group of four rounds takes the next four words of
// the message schedule, the first four groups from the block itself.
#include "platform/host/base/sha256_blocks.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

namespace host {
namespace {

__attribute__((target("sha,ssse3,sse4.1"))) void BlocksShaNi(uint32_t *state, const unsigned char *data,
                                                              std::size_t blocks)
{
    // Big-endian words out of each 16 bytes.
    const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state + 4));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abef_before = abef;
        const __m128i cdgh_before = cdgh;
        __m128i w[4];  // the last four groups of the schedule, group g at w[g % 4]
        for (int g = 0; g < 16; ++g) {
            __m128i x;
            if (g < 4) {
                x = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * g)), swap);
            } else {
                __m128i minus4 = w[g % 4], minus3 = w[(g + 1) % 4], minus2 = w[(g + 2) % 4], minus1 = w[(g + 3) % 4];
                x = _mm_add_epi32(_mm_sha256msg1_epu32(minus4, minus3), _mm_alignr_epi8(minus1, minus2, 4));
                x = _mm_sha256msg2_epu32(x, minus1);
            }
            w[g % 4] = x;
            __m128i words = _mm_add_epi32(x, _mm_load_si128(reinterpret_cast<const __m128i *>(kSha256Round + 4 * g)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(words, 0x0E));
        }
        abef = _mm_add_epi32(abef, abef_before);
        cdgh = _mm_add_epi32(cdgh, cdgh_before);
    }

    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

bool HasShaExtensions()
{
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return ssse3 && sse41 && (b & (1u << 29));
}

}  // namespace

const Sha256Blocks Sha256BlocksShaNi = BlocksShaNi;

Sha256Blocks ChooseSha256Blocks()
{
    static const Sha256Blocks chosen = HasShaExtensions() ? BlocksShaNi : Sha256BlocksPortable;
    return chosen;
}

}  // namespace host

#else

namespace host {

const Sha256Blocks Sha256BlocksShaNi = nullptr;

Sha256Blocks ChooseSha256Blocks()
{
    return Sha256BlocksPortable;
}

}  // namespace host

#endif

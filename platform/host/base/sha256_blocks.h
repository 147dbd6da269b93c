// The compression of whole 64-byte blocks into a SHA-256 state, and its
// speed-up.
//
// Contract: Sha256BlocksPortable and Sha256BlocksShaNi(state, data, n) both
// fold the n blocks at `data` into `state` (eight words, A to H) as
// FIPS 180-4 says; ChooseSha256Blocks gives the second where the processor
// has the SHA extensions (with SSSE3 and SSE4.1), else the first.
//
// Why a speed-up: a run hashes the whole win.ini it writes for its backup
// record (24 MB for a full kit on eight ports); the portable rounds take
// about 110 ms for that, the processor's own instructions a tenth of it.
#ifndef PFMSETUP_PLATFORM_HOST_BASE_SHA256_BLOCKS_H
#define PFMSETUP_PLATFORM_HOST_BASE_SHA256_BLOCKS_H

#include <cstddef>
#include <cstdint>

namespace host {

// The round constants, aligned for 16-byte loads.
alignas(16) extern const uint32_t kSha256Round[64];

using Sha256Blocks = void (*)(uint32_t *state, const unsigned char *data, std::size_t blocks);

void Sha256BlocksPortable(uint32_t *state, const unsigned char *data, std::size_t blocks);
// Null where the build's target has no such instructions.
extern const Sha256Blocks Sha256BlocksShaNi;
Sha256Blocks ChooseSha256Blocks();

}  // namespace host

#endif

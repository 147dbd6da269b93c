// Integers as the files of these systems store them: little-endian, at any
// alignment (boot sectors, partition tables, PE files, SYSTEM.DAT).
#ifndef PFMSETUP_PLATFORM_HOST_BASE_LITTLE_ENDIAN_H
#define PFMSETUP_PLATFORM_HOST_BASE_LITTLE_ENDIAN_H

#include <cstdint>

namespace host {

inline uint16_t Le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline uint32_t Le32(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace host

#endif

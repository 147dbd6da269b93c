// A throw-away Windows installation for the fuzz targets: a Wine prefix
// (drive C: and Z: for /, a Windows and a system folder, user.reg) and a
// kit folder, made once per process in /dev/shm (or /tmp) and removed at
// exit. WINEPREFIX points at it.
#ifndef PFMSETUP_FUZZ_FUZZ_PREFIX_H
#define PFMSETUP_FUZZ_FUZZ_PREFIX_H

#include <cstddef>
#include <string>
#include <string_view>

namespace pfmfuzz {

struct FuzzPrefix {
    std::string root;
    std::string prefix;   // root/prefix
    std::string kit;      // root/kit
    std::string windows;  // prefix/drive_c/windows
};

// Made at the first call.
const FuzzPrefix &Prefix();

void WriteFile(const std::string &path, std::string_view bytes);
std::string ReadFile(const std::string &path);

// Forms SetupFilePath as the program does with the kit folder current,
// and makes the earlier folder current again.
void FormSetupFilePathInKit();

// The start of a system.reg that makes the installation a Windows 98 one
// with an (empty) printers key; a fuzzed rest is appended to it.
extern const char kSystemRegPrelude[];

}  // namespace pfmfuzz

#endif

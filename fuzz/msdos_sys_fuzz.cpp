// MSDOS.SYS at the root of a boot drive, over any bytes, read as the
// installation reads it (found whatever its letter case, read up to one
// byte past its largest size, [Paths] WinDir taken) with the drive letter
// of the folder it names.
//
// Checked: a folder is named only from a text file of at most 64 KiB, and
// then without line breaks or trailing backslashes; a letter read from it
// is an upper-case letter that the folder starts with.
#include "fuzz/fuzz_prefix.h"
#include "platform/host/drives/drive_files.h"
#include "platform/host/installation/msdos_sys.h"
#include "platform/host/installation/win9x_drive.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

void Check(bool ok, const char *what)
{
    if (ok) return;
    std::fprintf(stderr, "msdos_sys_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string drive = pfmfuzz::Prefix().root + "/boot_drive";
    mkdir(drive.c_str(), 0755);
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    pfmfuzz::WriteFile(drive + "/msdos.sys", bytes);
    std::string windows = host::MsdosSysWindowsFolder(host::HostFiles(), drive);
    std::optional<std::string> direct = host::MsdosSysWindowsFolder(bytes);
    Check(windows.empty() || (direct && size <= host::kMaxMsdosSysSize), "a folder named by no text file");
    Check(windows.find_first_of("\r\n") == std::string::npos, "a folder with a line break");
    Check(windows.size() <= 3 || windows.back() != '\\', "a folder with a trailing backslash");
    if (char letter = host::DriveLetterOf(windows)) {
        Check(letter >= 'A' && letter <= 'Z', "a letter that is none");
        Check((windows[0] & ~0x20) == letter, "a letter the folder does not start with");
    }
    return 0;
}

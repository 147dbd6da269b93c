// The registry of a Windows 95/98/Me installation: SYSTEM.DAT (or USER.DAT)
// in the binary format of those systems, read through libcreg.
#ifndef PFMSETUP_PLATFORM_HOST_REGISTRY_WIN9X_REGISTRY_HIVE_H
#define PFMSETUP_PLATFORM_HOST_REGISTRY_WIN9X_REGISTRY_HIVE_H

#include "platform/host/registry/hive.h"

#include <memory>
#include <string>

namespace host {

// Opens the registry file at `unix_path` once, read only; it is never
// written. Names are answered and looked up as bytes of the installation's
// ANSI code page `ascii_codepage` (the file does not name it). Subkeys are
// enumerated in the order the file's key tree holds them, as Windows 9x
// enumerates them. Null, with the reason in `why`, when the file is missing
// or is not a registry file libcreg can read.
std::unique_ptr<RegistryHive> OpenWin9xRegistry(const std::string &unix_path, std::string *why,
                                                int ascii_codepage = 1252);

}  // namespace host

#endif

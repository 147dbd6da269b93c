// The structure of a Windows 95/98/Me registry file (CREG), checked before
// libcreg reads it. libcreg trusts some of what it reads: a chain of
// sibling offsets that comes back on itself makes it loop for ever, a data
// block that a record overruns makes it read past its buffers or leak.
// A file that passes this check holds a key tree in which every key is
// reached once, every key's record exists and every record and value lies
// within its block.
#ifndef PFMSETUP_PLATFORM_HOST_REGISTRY_WIN9X_REGISTRY_CHECK_H
#define PFMSETUP_PLATFORM_HOST_REGISTRY_WIN9X_REGISTRY_CHECK_H

#include <string>
#include <string_view>

namespace host {

// Empty when the bytes are a sound registry file, otherwise what is wrong
// with them, in a few words for a message.
std::string CheckWin9xRegistry(std::string_view file);

}  // namespace host

#endif

// What the host layer keeps between calls: the pending system profile and
// the caches of parsed files and resolved paths. A program never needs to
// drop it; tests that switch prefixes within one process do.
#ifndef PFMSETUP_PLATFORM_HOST_HOST_STATE_H
#define PFMSETUP_PLATFORM_HOST_HOST_STATE_H

namespace host {

// Flushes the system profile and forgets every cached file and path.
void ResetHostState();

}  // namespace host

#endif

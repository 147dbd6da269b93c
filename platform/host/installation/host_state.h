// What the host layer keeps between calls lives in the installation object
// (installation.h). A program never needs to drop it; tests that switch
// installations within one process do.
#ifndef PFMSETUP_PLATFORM_HOST_HOST_STATE_H
#define PFMSETUP_PLATFORM_HOST_HOST_STATE_H

namespace host {

// Flushes the system profile and forgets the installation with every cached
// file and path; the next operation opens the installation afresh.
void ResetHostState();

}  // namespace host

#endif

#include "platform/host/installation/host_state.h"

#include "platform/host/installation/installation.h"

namespace host {

void ResetHostState()
{
    Installation::Reset();
}

}  // namespace host

#include "host_state.h"

#include "installation.h"

namespace host {

void ResetHostState()
{
    Installation::Reset();
}

}  // namespace host

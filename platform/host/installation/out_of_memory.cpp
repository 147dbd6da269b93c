#include "platform/host/installation/out_of_memory.h"

#include "platform/host/installation/installation.h"

namespace host {

void MemoryRanOut() noexcept
{
    if (Installation *installation = Installation::IfOpen()) installation->Profile().Abandon();
}

}  // namespace host

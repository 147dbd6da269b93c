#include "out_of_memory.h"

#include "installation.h"

namespace host {

void MemoryRanOut() noexcept
{
    if (Installation *installation = Installation::IfOpen()) installation->Profile().Abandon();
}

}  // namespace host

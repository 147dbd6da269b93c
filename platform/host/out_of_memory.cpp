#include "out_of_memory.h"

#include "system_profile.h"

namespace host {

void MemoryRanOut() noexcept
{
    SystemProfile::Get().Abandon();
}

}  // namespace host

#include "host_state.h"

#include "profile_cache.h"
#include "registry_file.h"
#include "system_profile.h"

namespace host {

void ResetHostState()
{
    SystemProfile::Get().Flush();
    ForgetProfiles();
    ForgetProfilePaths();
    ForgetRegistries();
}

}  // namespace host

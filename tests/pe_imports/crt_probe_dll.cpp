// An ordinary MinGW DLL, built with the usual start-up code: it has code, an
// entry point and a thread-local storage directory, none of which the
// resource library may have.
#include <windows.h>

extern "C" __declspec(dllexport) int ProbeValue(void)
{
    static thread_local int calls;
    return ++calls;
}

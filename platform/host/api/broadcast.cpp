// Messages to windows. The host has no windows that read win.ini, so the
// broadcast that the system profile changed reaches nobody and succeeds.
#include "platform/host/win32_api.h"

LRESULT SendMessageTimeoutA(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR result)
{
    if (result) *result = 0;
    return 1;
}

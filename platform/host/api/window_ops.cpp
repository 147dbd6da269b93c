// The window search and activation on the host. The only top-level windows
// are the message boxes that copies of the program show now, kept in the
// table of shown boxes (window_table.h). A window handle stands for one
// entry of that table; bringing the window forward asks its owner to show
// the box again, with a bell. The host has no windows that read win.ini,
// so the broadcast that the system profile changed reaches nobody and
// succeeds.
#include <stdint.h>

#include <string>
#include <vector>

#include "platform/host/text/code_page.h"
#include "platform/host/text/cp1252.h"
#include "platform/host/text/unicode_case.h"
#include "platform/host/installation/installation.h"
#include "platform/host/installation/out_of_memory.h"
#include "platform/host/win32_api.h"
#include "platform/host/dialogue/window_table.h"

namespace {

// The class of the platform's dialog boxes, message boxes included, by
// name and as the atom it is registered under.
const char kDialogClassName[] = "#32770";
const uintptr_t kDialogClassAtom = 0x8002;

struct Handle {
    std::string entry;    // name of the table entry
    bool raised = false;  // brought forward since the search handed it out
};

// Handles handed out so far; a handle's value is derived from its index.
std::vector<Handle> g_handles;
const uintptr_t kHandleBase = 0x10010, kHandleStep = 4;

HWND HandleFor(const std::string &entry)
{
    size_t index = 0;
    while (index < g_handles.size() && g_handles[index].entry != entry) ++index;
    if (index == g_handles.size()) g_handles.push_back(Handle{entry, false});
    g_handles[index].raised = false;
    return reinterpret_cast<HWND>(kHandleBase + kHandleStep * index);
}

Handle *HandleOf(HWND window)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(window);
    if (value < kHandleBase || (value - kHandleBase) % kHandleStep != 0) return nullptr;
    size_t index = (value - kHandleBase) / kHandleStep;
    return index < g_handles.size() ? &g_handles[index] : nullptr;
}

bool IsDialogClass(LPCSTR class_name)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(class_name);
    if (value < 0x10000) return value == kDialogClassAtom;
    return host::EqualsNoCase(class_name, kDialogClassName);
}

// Titles compare as the platform compares them: as Unicode texts, from the
// installation's code page, each character's letter case folded. In 1251
// Ё meets ё; in 932 Ａ meets ａ and А meets а, but the second byte of a
// character never folds on its own (ア and ャ, 83 41 and 83 61, stay apart).
bool SameTitle(const host::CodePage &code_page, std::string_view a, std::string_view b)
{
    std::u16string x = code_page.ToUtf16(a), y = code_page.ToUtf16(b);
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i) {
        if (x[i] != y[i] && host::SimpleCaseFold(x[i]) != host::SimpleCaseFold(y[i])) return false;
    }
    return true;
}

// The three activation operations have one effect on the terminal: the box
// is shown again with a bell. A caller brings a window forward with all
// three in a row, so the request goes out once per search result; the
// operations after the first report whether the box is still there without
// ringing again.
BOOL BringForward(HWND window)
{
    Handle *handle = HandleOf(window);
    if (!handle) return FALSE;
    if (handle->raised) return host::BoxIsWaiting(handle->entry) ? TRUE : FALSE;
    if (!host::RequestBoxRaise(handle->entry)) return FALSE;
    handle->raised = true;
    return TRUE;
}

}  // namespace

HWND FindWindowA(LPCSTR class_name, LPCSTR title)
{
    return host::AnswerOnOutOfMemory(static_cast<HWND>(nullptr), [&]() -> HWND {
        if (class_name && !IsDialogClass(class_name)) return nullptr;
        const host::CodePage &code_page = host::AnsiCodePage();
        for (const host::BoxEntry &entry : host::LiveBoxEntries()) {
            if (!title || SameTitle(code_page, entry.caption, title)) return HandleFor(entry.name);
        }
        return nullptr;
    });
}

BOOL BringWindowToTop(HWND window)
{
    return host::AnswerOnOutOfMemory(FALSE, [&] { return BringForward(window); });
}

BOOL ShowWindow(HWND window, int show)
{
    // A box on the terminal cannot be hidden, minimised or resized; every
    // other way of showing it brings it forward.
    return host::AnswerOnOutOfMemory(FALSE, [&] {
        if (show == 0) {  // SW_HIDE: says whether it was visible
            Handle *handle = HandleOf(window);
            return handle && host::BoxIsWaiting(handle->entry) ? TRUE : FALSE;
        }
        return BringForward(window);
    });
}

BOOL SetForegroundWindow(HWND window)
{
    return host::AnswerOnOutOfMemory(FALSE, [&] { return BringForward(window); });
}

LRESULT SendMessageTimeoutA(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR result)
{
    if (result) *result = 0;
    return 1;
}

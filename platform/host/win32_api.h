// The Win32 types, constants and operations that the program uses, as the
// host layer provides them on a POSIX system. Names, argument lists and
// values are those of <windows.h>, so the logic compiles against either.
#ifndef PFMSETUP_PLATFORM_HOST_WIN32_API_H
#define PFMSETUP_PLATFORM_HOST_WIN32_API_H

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef int INT;
typedef unsigned int UINT;
typedef uint8_t BYTE;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef char CHAR;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef BYTE *LPBYTE;
typedef DWORD *LPDWORD;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef uintptr_t DWORD_PTR;
typedef DWORD_PTR *PDWORD_PTR;
typedef DWORD REGSAM;

typedef struct HKEY__ *HKEY;
typedef HKEY *PHKEY;
typedef struct HWND__ *HWND;
typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define KEY_READ 0x20019u

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u

#define VER_PLATFORM_WIN32s 0u
#define VER_PLATFORM_WIN32_WINDOWS 1u
#define VER_PLATFORM_WIN32_NT 2u

#define MB_OK 0x0u
#define MB_OKCANCEL 0x1u
#define MB_ICONEXCLAMATION 0x30u
#define MB_ICONINFORMATION 0x40u
#define IDOK 1
#define IDCANCEL 2

#define SW_SHOWNORMAL 1
#define HWND_BROADCAST ((HWND)(uintptr_t)0xffffu)
#define WM_WININICHANGE 0x001Au
#define SMTO_ABORTIFHUNG 0x0002u

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

// Each operation below says what it answers and whose rule it follows: the
// platform's (Windows 9x and Wine agree), Wine's where this machine's Wine
// is the reference (tests/conformance*), Windows 9x's where the two differ
// and the program runs on 9x, or the host's own where following either would
// harm the user's files (docs/host-layer.md lists those). Every operation
// that allocates answers its failure result when memory runs out
// (out_of_memory.h), and after that the run's writes are refused until its
// flush; the failure result is named with each.

// Profiles: the setup description file and the system profile (win.ini).
// A file named without a folder is looked for in the Windows folder, as the
// platform does; other names through the drives (installation/windows_paths.h). Names of sections and keys are trimmed and compared without
// the case of ASCII letters; the first section of a name, and the first key
// of a name in it, are the ones read (profile/document.cpp).
//
// GetPrivateProfileStringA: the value of a key, one pair of matching quotes
// around it removed, cut to size - 1 bytes and NUL-terminated; its length.
// An absent key, section or file gives `def` without its trailing spaces. A
// NULL key lists the names of the section's entries (not comments), a NULL
// section the sections' names, each NUL-terminated and the list closed by a second NUL; a list
// that does not fit is cut and counts size - 2. As Wine; where Wine writes
// past a buffer of 0 or 1 bytes, the host stays within it (host's rule).
// Out of memory: an empty text, 0.
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR buffer, DWORD size, LPCSTR file);
// GetPrivateProfileIntA: the key's value read as a text of at most 29
// characters, then as an integer (white space, a sign, a 0x, 0o or 0b
// prefix, digits up to the first that does not belong, wrapping at 32 bits),
// as Wine reads it; `def` when the key is absent. Out of memory: `def`.
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT def, LPCSTR file);
// GetPrivateProfileSectionA: every line of the section but blanks and
// comments, as "key=value" (or the bare line), each NUL-terminated, closed by a second
// NUL; a run that does not fit is cut to size - 2 bytes and two NULs. The
// section's name is not trimmed, as on the platform. Out of memory: an
// empty list, 0.
DWORD GetPrivateProfileSectionA(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR file);
// GetProfileStringA: GetPrivateProfileStringA on win.ini, which answers the
// process's own pending writes at once; the program itself does not call it,
// its tests and the conformance probe do.
DWORD GetProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR buffer, DWORD size);
// WriteProfileStringA: sets a key of win.ini (a NULL value deletes the key,
// a NULL key the section, a NULL section flushes and answers FALSE). New
// keys go after the last line of their section, new sections at the end,
// with CR LF; lines no write touched stay byte for byte, as the platform
// keeps them. TRUE when the write is held for the flush, which replaces
// win.ini atomically (system_profile.cpp). Host's rules, against Wine's:
// a section, key or value holding CR or LF, or a key holding '=' or
// starting with '[', is refused with FALSE (Wine writes them, and they add
// lines); a win.ini without any write permission bit carries the read-only
// attribute and fails for every user, root included (as on Windows 9x;
// Wine as root writes it); sections Wine keeps in its registry are read
// and written in the file alone. Out of memory: FALSE.
BOOL WriteProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value);

// Registry, read only: HKEY_LOCAL_MACHINE as the installation's hive holds
// it (Wine's system.reg, or a Windows 9x SYSTEM.DAT; registry/hive.h). Out
// of memory: ERROR_NOT_ENOUGH_MEMORY, what the platform answers for
// STATUS_NO_MEMORY.
//
// RegOpenKeyExA: a key by its '\'-separated path, names without letter
// case; ERROR_FILE_NOT_FOUND when absent, ERROR_BAD_PATHNAME (161) for a
// path starting with '\', ERROR_MORE_DATA for a path over 260 bytes. In
// Wine's hive symbolic link keys are followed, at most 32 in one look-up;
// links that loop give ERROR_INVALID_PARAMETER (87), and a root made a link
// leaves no key below it to open, both as Wine answers.
LONG RegOpenKeyExA(HKEY key, LPCSTR subkey, DWORD options, REGSAM sam, PHKEY result);
// RegEnumKeyA: the name of the subkey at `index`; ERROR_NO_MORE_ITEMS past
// the last, ERROR_MORE_DATA when the name and its NUL do not fit. The order
// is the hive's own: Wine's sorted by name without letter case, Windows
// 9x's the order its file's key tree holds them (registry/win9x_registry_hive.h).
LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD size);
// RegQueryValueExA: a value's type and data as stored (strings as ANSI
// bytes) and its size; ERROR_FILE_NOT_FOUND (type REG_NONE) when absent,
// ERROR_MORE_DATA with the size needed when it does not fit. A string stored
// without its NUL gets one by the hive's rule (registry/hive.h): Windows 9x
// counts it and requires room for it; Wine adds it only where the buffer has
// room beyond the text.
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
// RegCloseKey: ERROR_SUCCESS, or ERROR_INVALID_HANDLE for a key that is not
// open. Allocates nothing.
LONG RegCloseKey(HKEY key);

// System facts of the installation (installation.h).
//
// GetVersionExA: in a Wine prefix the version Wine's settings name for the
// program or for every program, else the registry's, as Wine answers; on a
// Windows 9x drive the VersionNumber of its SYSTEM.DAT (a Windows NT system
// there answers only VER_PLATFORM_WIN32_NT). FALSE for a record whose size
// field is not sizeof(OSVERSIONINFOA), or an installation whose version
// cannot be read. Out of memory: FALSE.
BOOL GetVersionExA(LPOSVERSIONINFOA info);
// GetSystemDirectoryA, GetCurrentDirectoryA: the directory's Windows path
// and its length, or the size needed, NUL included, when it does not fit:
// never cut, as on the platform. A current folder on no drive of the
// installation answers 0 with one line on standard error. A current
// directory longer than 258 characters is answered as it is, where Wine
// starts the program in C:\windows instead (host's rule). Out of memory: 0.
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);

// Texts in the ANSI code page of the installation.
//
// lstrcmpA: <0, 0 or >0 by the locale's rules (collation.h); equal where
// Wine finds them equal, though some unequal texts (control characters,
// superscript digits) are ordered otherwise. Out of memory: 0, as Wine's.
int lstrcmpA(LPCSTR a, LPCSTR b);
// lstrcpyA, lstrcpynA, lstrcatA, lstrlenA: the C copies; a NULL text makes
// lstrcpyA and lstrcatA answer NULL and lstrlenA 0; lstrcpynA copies at most
// size - 1 bytes and ends with a NUL where size > 0. They allocate nothing.
LPSTR lstrcpyA(LPSTR dst, LPCSTR src);
LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int size);
LPSTR lstrcatA(LPSTR dst, LPCSTR src);
int lstrlenA(LPCSTR s);
// wsprintfA: the platform's formatter, which writes at most 1024 bytes; the
// length written. Allocates nothing.
int wsprintfA(LPSTR dst, LPCSTR format, ...);

// Windows and message boxes: the only top-level windows are the message
// boxes that copies of the program show now (window_table.h).
//
// FindWindowA: a box of the dialog class ("#32770" or its atom, or any
// class for NULL) whose caption matches without letter case (any caption
// for NULL), shown by a live copy of the program; NULL when there is none.
// Out of memory: NULL.
HWND FindWindowA(LPCSTR class_name, LPCSTR title);
// BringWindowToTop, ShowWindow, SetForegroundWindow: the box found is shown
// again with a bell, once per search result; TRUE while it is still shown.
// A box on the terminal cannot be hidden, minimised or resized (SW_HIDE only
// says whether it is shown). Out of memory: FALSE.
BOOL BringWindowToTop(HWND window);
BOOL ShowWindow(HWND window, int show);
BOOL SetForegroundWindow(HWND window);
// MessageBoxA: the box as a dialog box on the terminal, or as lines through
// standard output and input (message_box.h); the button chosen, or
// IDCANCEL whatever the buttons when input ends, as the platform's own box
// answers when closed. A NULL caption shows as "Error", as on the platform.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
// SendMessageTimeoutA: no window on the host reads win.ini, so the
// broadcast that it changed reaches nobody and succeeds (1, *result 0).
// Allocates nothing.
LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT flags,
                            UINT timeout, PDWORD_PTR result);

// The resource library: read as a file, never run (pe_strings.h).
//
// LoadLibraryA: a handle for the library, found by the platform's search
// order when named without a folder (library_search.h); the same file
// loaded twice gives the same handle. NULL when it is missing or not a
// 32-bit PE image. Out of memory: NULL.
HMODULE LoadLibraryA(LPCSTR file);
// LoadStringA: string `id` converted to the ANSI code page, cut to size - 1
// bytes without cutting a character of two bytes, NUL-terminated; its
// length, 0 (and an empty text) when absent. A size of 0 answers -1, as the
// platform's. Out of memory: an empty text, 0.
int LoadStringA(HINSTANCE library, UINT id, LPSTR buffer, int size);
// FreeLibrary: releases the handle once freed as often as it was loaded;
// FALSE for a handle that is not loaded. Allocates nothing.
BOOL FreeLibrary(HMODULE library);

#endif

// LoadLibraryA, LoadStringA and FreeLibrary for resource libraries: the
// library is found by the platform's search and its file is read, never
// run; its string resources are read from the file as the loader would map
// it.
#include "platform/host/installation/installation.h"
#include "platform/host/libraries/library_search.h"
#include "platform/host/installation/out_of_memory.h"
#include "platform/host/libraries/pe_strings.h"
#include "platform/host/win32_api.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

struct LoadedLibrary {
    std::string path;
    host::PeImage image;
    unsigned references = 0;
};

// The loaded libraries, by the path of their file. A handle is the address
// of its entry; the same file loaded twice gives the same handle, released
// when it has been freed as often as it was loaded.
std::mutex libraries_lock;
std::map<std::string, std::unique_ptr<LoadedLibrary>> libraries;

LoadedLibrary *Find(HMODULE handle)
{
    for (auto &entry : libraries) {
        if (reinterpret_cast<HMODULE>(entry.second.get()) == handle) return entry.second.get();
    }
    return nullptr;
}

HMODULE Load(LPCSTR file)
{
    if (!file) return nullptr;
    auto path = host::FindLibraryFile(host::Installation::Current(), file);
    if (!path) return nullptr;

    std::lock_guard<std::mutex> guard(libraries_lock);
    auto it = libraries.find(*path);
    if (it == libraries.end()) {
        auto image = host::ReadPeImage(*path);
        if (!image) return nullptr;
        auto library = std::make_unique<LoadedLibrary>();
        library->path = *path;
        library->image = std::move(*image);
        it = libraries.emplace(*path, std::move(library)).first;
    }
    ++it->second->references;
    return reinterpret_cast<HMODULE>(it->second.get());
}

int LoadText(HINSTANCE library, UINT id, LPSTR buffer, int size)
{
    std::optional<std::u16string> text;
    {
        std::lock_guard<std::mutex> guard(libraries_lock);
        if (LoadedLibrary *loaded = Find(library)) text = host::FindStringResource(loaded->image, id);
    }
    return host::CopyStringResource(text ? *text : std::u16string(), buffer, size, host::AnsiCodePage());
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR file)
{
    return host::AnswerOnOutOfMemory(static_cast<HMODULE>(nullptr), [&] { return Load(file); });
}

// A text that cannot be read for want of memory is answered as one that is
// not there: an empty text and 0.
int LoadStringA(HINSTANCE library, UINT id, LPSTR buffer, int size)
{
    if (size == 0) return -1;
    if (!buffer) return 0;
    return host::AnswerOnOutOfMemory(
        [&] {
            if (size > 0) buffer[0] = '\0';
            return 0;
        },
        [&] { return LoadText(library, id, buffer, size); });
}

// Frees what it holds and allocates nothing: no guard.

BOOL FreeLibrary(HMODULE library)
{
    std::lock_guard<std::mutex> guard(libraries_lock);
    LoadedLibrary *loaded = Find(library);
    if (!loaded) return FALSE;
    if (--loaded->references == 0) libraries.erase(loaded->path);
    return TRUE;
}

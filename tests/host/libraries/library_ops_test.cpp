// LoadLibraryA, LoadStringA and FreeLibrary on the host: the library
// search (its folders, their order, letter case, the forms of the name)
// and the texts read from the libraries found.
//
// This test program is built beside pfmres.dll, so the program's folder,
// searched right after the current one (the kit's), holds the real library.
#include "platform/host/libraries/library_search.h"
#include "platform/host/installation/installation.h"
#include "platform/host/installation/windows_paths.h"
#include "platform/platform.h"
#include "test_prefix.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using pfmtest::ReadFile;
using pfmtest::WriteFile;

// The probe library with its string 65535 ("last") changed to a tag of
// four letters, so that a test can tell which copy was loaded.
std::string TaggedLibrary(const std::string &tag)
{
    std::string bytes = ReadFile(PROBE_DLL);
    const std::string last("l\0a\0s\0t\0", 8);
    std::size_t at = bytes.find(last);
    EXPECT_NE(at, std::string::npos);
    EXPECT_EQ(bytes.find(last, at + 1), std::string::npos);
    for (std::size_t k = 0; k < 4 && at != std::string::npos; ++k) bytes[at + 2 * k] = tag.at(k);
    return bytes;
}

std::string TagOf(HMODULE library)
{
    char buffer[2048];
    int n = LoadStringA(library, 65535, buffer, sizeof buffer);
    return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// Loads `name`, gives the tag of the copy found ("" when the library
// found has no tag, "none" when none loads), and frees it again.
std::string Loaded(const char *name)
{
    HMODULE library = LoadLibraryA(name);
    if (!library) return "none";
    std::string tag = TagOf(library);
    EXPECT_TRUE(FreeLibrary(library));
    return tag;
}

class LibraryOps : public ::testing::Test {
protected:
    void SetUp() override
    {
        windows = tmp.prefix + "/drive_c/windows";
        system = windows + "/system32";
        tools = tmp.prefix + "/drive_c/Tools";
        more = windows + "/More";
        ::mkdir(tools.c_str(), 0755);
        ::mkdir(more.c_str(), 0755);
        SetPath("C:\\NotThere;;C:\\TOOLS;%WinDir%\\more");
        tmp.Enter();
    }

    void SetPath(const std::string &path)
    {
        tmp.AddSystemRegText(
            "[System\\\\CurrentControlSet\\\\Control\\\\Session Manager\\\\Environment] 1700000000\n"
            "\"PATH\"=str(2):" + pfmtest::RegString(path) + "\n\n");
    }

    pfmtest::TempPrefix tmp;
    std::string windows, system, tools, more;
};

TEST_F(LibraryOps, LoadsTheBuiltLibraryFromTheProgramsFolderByAnyCase)
{
    for (const char *name : {"pfmres.dll", "PFMRES.DLL", "PfmRes", "pfmres."}) {
        HMODULE library = LoadLibraryA(name);
        if (std::string(name) == "pfmres.") {
            // A final period means "no extension": there is no file "pfmres".
            EXPECT_EQ(library, nullptr) << name;
            continue;
        }
        ASSERT_NE(library, nullptr) << name;
        char buffer[2048];
        std::memset(buffer, '#', sizeof buffer);
        int n = LoadStringA(library, 2, buffer, sizeof buffer);
        ASSERT_GT(n, 0) << name;
        EXPECT_EQ(std::strlen(buffer), static_cast<std::size_t>(n));
        EXPECT_NE(std::strstr(buffer, "%s"), nullptr) << buffer;
        EXPECT_EQ(LoadStringA(library, 3, buffer, sizeof buffer), 0) << "the library holds no string 3";
        EXPECT_EQ(buffer[0], '\0');
        EXPECT_TRUE(FreeLibrary(library));
    }
}

TEST_F(LibraryOps, SearchesTheFoldersInTheirOrder)
{
    // The current folder (the kit's) before the program's: a pfmres.dll
    // in the kit is the one loaded, not the one beside this program.
    WriteFile(tmp.kit + "/PFMRES.DLL", TaggedLibrary("kit "));
    EXPECT_EQ(Loaded("pfmres.dll"), "kit ");
    std::remove((tmp.kit + "/PFMRES.DLL").c_str());
    EXPECT_EQ(Loaded("pfmres.dll"), "");

    // Then the current folder, the system folder, the Windows folder and
    // the folders of PATH, in the order PATH lists them; each name in its
    // own letter case.
    const std::pair<std::string, std::string> copies[] = {
        {tmp.kit + "/Order.Dll", "kit "},
        {system + "/ORDER.DLL", "sys "},
        {windows + "/order.DLL", "win "},
        {tools + "/order.dll", "tool"},
        {more + "/oRdEr.dll", "more"},
    };
    for (auto &copy : copies) WriteFile(copy.first, TaggedLibrary(copy.second));
    for (auto &copy : copies) {
        EXPECT_EQ(Loaded("order"), copy.second);
        std::remove(copy.first.c_str());
    }
    EXPECT_EQ(Loaded("order"), "none");
}

TEST_F(LibraryOps, TakesPathFoldersFromTheInstallationsRegistry)
{
    // Empty entries and drives the prefix does not map are left out.
    std::vector<std::string> expected;
    for (const char *path : {"C:\\NotThere", "C:\\Tools", "C:\\windows\\More", "C:\\windows"}) {
        expected.push_back(host::UnixPathOf(path).value());
    }
    EXPECT_EQ(host::PathFolders(host::Installation::Current(), "C:\\NotThere;;C:\\TOOLS;%WinDir%\\more;%systemroot%;Q:\\unmapped"), expected);
    EXPECT_EQ(host::PathFolders(host::Installation::Current(), "%Other%\\x"), std::vector<std::string>{host::UnixPathOf("%Other%\\x").value()})
        << "only the Windows folder's names are expanded";
    EXPECT_EQ(host::PathFolders(host::Installation::Current(), ""), std::vector<std::string>{});

    WriteFile(more + "/late.dll", TaggedLibrary("more"));
    EXPECT_EQ(Loaded("late.dll"), "more");
    SetPath("C:\\Tools");
    tmp.Enter();
    EXPECT_EQ(Loaded("late.dll"), "none") << "a folder no longer in PATH";
}

TEST_F(LibraryOps, TheFirstFileFoundIsTheOneLoadedOrRefused)
{
    // As on the platform, a file that is not a library stops the search:
    // the good copy further on is not tried.
    WriteFile(windows + "/order.dll", TaggedLibrary("win "));
    WriteFile(tmp.kit + "/order.dll", "not a library");
    EXPECT_EQ(Loaded("order.dll"), "none");
    std::string cut = TaggedLibrary("kit ");
    WriteFile(tmp.kit + "/order.dll", cut.substr(0, cut.size() / 2));
    EXPECT_EQ(Loaded("order.dll"), "none");
    std::remove((tmp.kit + "/order.dll").c_str());
    EXPECT_EQ(Loaded("order.dll"), "win ");
}

TEST_F(LibraryOps, NamesWithAFolderAreNotSearched)
{
    WriteFile(windows + "/order.dll", TaggedLibrary("win "));
    ::mkdir((tmp.kit + "/sub").c_str(), 0755);
    WriteFile(tmp.kit + "/sub/order.dll", TaggedLibrary("sub "));
    EXPECT_EQ(Loaded("C:\\WINDOWS\\ORDER.DLL"), "win ");
    EXPECT_EQ(Loaded("sub\\order"), "sub ");
    EXPECT_EQ(Loaded(".\\order.dll"), "none") << "a relative path is not searched for";
    EXPECT_EQ(Loaded("C:\\missing\\order.dll"), "none");
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
}

TEST_F(LibraryOps, HandlesAreCountedAndReleased)
{
    WriteFile(tmp.kit + "/order.dll", TaggedLibrary("kit "));
    HMODULE first = LoadLibraryA("order.dll");
    HMODULE second = LoadLibraryA("ORDER");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second) << "the same file loaded twice is one library";
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(TagOf(second), "kit ") << "still loaded once more";
    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_FALSE(FreeLibrary(second)) << "already released";

    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(LoadStringA(second, 65535, buffer, sizeof buffer), 0) << "a released handle holds no strings";
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(LoadStringA(reinterpret_cast<HINSTANCE>(buffer), 65535, buffer, sizeof buffer), 0);
    EXPECT_EQ(LoadStringA(nullptr, 2, buffer, 0), -1);
}

TEST_F(LibraryOps, CutsLongStringsToTheBuffer)
{
    WriteFile(tmp.kit + "/probe.dll", ReadFile(PROBE_DLL));
    HMODULE library = LoadLibraryA("probe.dll");
    ASSERT_NE(library, nullptr);
    // Strings 1, 2 and 3 hold 2047, 2048 and 3000 letters.
    for (UINT id : {1u, 2u, 3u}) {
        std::string buffer(2048 + 8, '#');
        EXPECT_EQ(LoadStringA(library, id, &buffer[0], 2048), 2047) << id;
        EXPECT_EQ(buffer.find('\0'), 2047u) << id;
        EXPECT_EQ(buffer.substr(2048), std::string(8, '#')) << "written past the buffer: " << id;
    }
    FreeLibrary(library);
}

}  // namespace

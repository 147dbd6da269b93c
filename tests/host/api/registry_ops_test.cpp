// The registry as Wine's system.reg holds it, read through the Win32
// operations.
#include "platform/platform.h"
#include "test_prefix.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using pfmtest::TempPrefix;

namespace {

const char kPrinters[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";

struct Query {
    LONG status;
    DWORD type;
    DWORD size;
    std::string data;
};

Query QueryValue(const char *printer, const char *name, DWORD size)
{
    HKEY key;
    std::string path = std::string(kPrinters) + "\\" + printer;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key));
    Query q{};
    std::string buffer(size + 4, '#');
    q.size = size;
    q.status = RegQueryValueExA(key, name, nullptr, &q.type, reinterpret_cast<LPBYTE>(&buffer[0]), &q.size);
    q.data = buffer;
    RegCloseKey(key);
    return q;
}

TEST(Registry, ReadsEveryKindOfValueLineThatWineWrites)
{
    TempPrefix prefix;
    prefix.AddPrinterLines(
        "P", {"\"Plain\"=\"C:\\\\dir \\\"q\\\"\"", "\"Expand\"=str(2):\"%SystemRoot%\\\\x\"",
              "\"Multi\"=str(7):\"a\\0b\\0\"", "\"Dword\"=dword:0000002a",
              "\"Binary\"=hex:01,02,\\", "  03", "\"Ansi\"=hex(1):41,00,42,00", "\"Escaped\"=\"\\x00e9\\x20ac\\x4e00\"",
              "\"Utf8\"=\"\xC3\xA9\"", "@=\"default\""});
    prefix.Enter();
    Query q = QueryValue("p", "plain", 64);
    EXPECT_EQ(ERROR_SUCCESS, q.status);
    EXPECT_EQ(REG_SZ, q.type);
    EXPECT_EQ(std::string("C:\\dir \"q\"\0", 11), q.data.substr(0, q.size));
    q = QueryValue("P", "Expand", 64);
    EXPECT_EQ(REG_EXPAND_SZ, q.type);
    EXPECT_EQ(std::string("%SystemRoot%\\x\0", 15), q.data.substr(0, q.size));
    q = QueryValue("P", "Multi", 64);
    EXPECT_EQ(REG_MULTI_SZ, q.type);
    EXPECT_EQ(std::string("a\0b\0\0", 5), q.data.substr(0, q.size));
    q = QueryValue("P", "Dword", 64);
    EXPECT_EQ(REG_DWORD, q.type);
    EXPECT_EQ(std::string("\x2a\0\0\0", 4), q.data.substr(0, q.size));
    q = QueryValue("P", "Binary", 64);
    EXPECT_EQ(REG_BINARY, q.type);
    EXPECT_EQ("\x01\x02\x03", q.data.substr(0, q.size));
    // A string stored without its NUL gets one, not counted in the size.
    q = QueryValue("P", "Ansi", 64);
    EXPECT_EQ(2u, q.size);
    EXPECT_EQ(std::string("AB\0#", 4), q.data.substr(0, 4));
    q = QueryValue("P", "Escaped", 64);
    EXPECT_EQ(std::string("\xE9\x80?\0", 4), q.data.substr(0, q.size));
    q = QueryValue("P", "Utf8", 64);
    EXPECT_EQ(std::string("\xE9\0", 2), q.data.substr(0, q.size));
    q = QueryValue("P", nullptr, 64);
    EXPECT_EQ(std::string("default\0", 8), q.data.substr(0, q.size));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, QueryValue("P", "absent", 64).status);
}

TEST(Registry, ReportsValuesThatDoNotFitWithoutTouchingTheBuffer)
{
    TempPrefix prefix;
    prefix.AddPrinterLines("P", {"\"Seven\"=\"1234567\"", "\"Bytes\"=hex:01,02,03,04,05,06,07,08,09"});
    prefix.Enter();
    Query q = QueryValue("P", "Seven", 8);
    EXPECT_EQ(ERROR_SUCCESS, q.status);
    q = QueryValue("P", "Seven", 7);
    EXPECT_EQ(ERROR_MORE_DATA, q.status);
    EXPECT_EQ(8u, q.size);
    EXPECT_EQ(std::string(11, '#'), q.data);
    q = QueryValue("P", "Bytes", 8);
    EXPECT_EQ(ERROR_MORE_DATA, q.status);
    EXPECT_EQ(9u, q.size);
    EXPECT_EQ(std::string(12, '#'), q.data);
}

TEST(Registry, EnumeratesSubkeysByNameWithoutLetterCase)
{
    TempPrefix prefix;
    for (const char *name : {"zeta", "Kit Printer", "beta", "Alpha", "a_b", "A1"}) prefix.AddPrinter(name, "d", "p");
    // Wine holds no key name longer than 256 characters and drops such keys.
    prefix.AddPrinter(std::string(256, 'L'), "d", "p");
    prefix.AddPrinter(std::string(257, 'M'), "d", "p");
    prefix.Enter();
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "system\\currentcontrolset\\control\\print\\printers",
                                           0, KEY_READ, &key));
    std::vector<std::string> names;
    char name[260];
    LONG status;
    DWORD index = 0;
    while ((status = RegEnumKeyA(key, index++, name, sizeof name)) != ERROR_NO_MORE_ITEMS) {
        names.push_back(status == ERROR_SUCCESS ? name : "<" + std::to_string(status) + ">");
    }
    EXPECT_EQ((std::vector<std::string>{"A1", "a_b", "Alpha", "beta", "Kit Printer", std::string(256, 'L'), "zeta"}),
              names);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
}

TEST(Registry, AbsentKeysAndAMissingHiveFailToOpen)
{
    TempPrefix prefix;
    prefix.Enter();
    HKEY key;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Absent", 0, KEY_READ, &key));
    ASSERT_EQ(0, remove((prefix.prefix + "/system.reg").c_str()));
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPrinters, 0, KEY_READ, &key));
}

TEST(Registry, SkipsMalformedLinesAndReadsTheRest)
{
    TempPrefix prefix;
    prefix.AddPrinterLines("P", {"\"Broken\"=hex:zz", "\"Unclosed\"=\"abc", "\"NoData\"=", "garbage",
                                 "\"Good\"=\"yes\"", "\"Dword\"=dword:123456789"});
    prefix.AddSystemRegText("[Unclosed\\\\Key\n\"x\"=\"y\"\n");
    prefix.Enter();
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, QueryValue("P", "Broken", 64).status);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, QueryValue("P", "Unclosed", 64).status);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, QueryValue("P", "Dword", 64).status);
    EXPECT_EQ(std::string("yes\0", 4), QueryValue("P", "Good", 64).data.substr(0, 4));
}

TEST(Registry, FollowsSymbolicLinkKeys)
{
    // A hive whose current control set is a link to ControlSet001, as
    // Windows keeps it: the printers are found through the link.
    TempPrefix prefix;
    prefix.AddSystemRegText(
        "[System\\\\ControlSet001\\\\Control\\\\Print\\\\Printers\\\\Linked] 1\n"
        "\"Port\"=\"LPT9:\"\n\n"
        "[System\\\\Select] 1\n#link\n\"SymbolicLinkValue\"=hex(6):5c,00,52,00,45,00,47,00,49,00,53,00,54,00,52,00,59,00,"
        "5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,79,00,73,00,74,00,65,00,6d,00,5c,00,43,00,"
        "6f,00,6e,00,74,00,72,00,6f,00,6c,00,53,00,65,00,74,00,30,00,30,00,31,00\n");
    prefix.Enter();
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\Select\\Control\\Print\\Printers\\Linked",
                                           0, KEY_READ, &key));
    char port[16] = {0};
    DWORD size = sizeof port;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Port", nullptr, nullptr, reinterpret_cast<LPBYTE>(port), &size));
    EXPECT_STREQ("LPT9:", port);
    RegCloseKey(key);
}


// A symbolic link key at PATH (below HKEY_LOCAL_MACHINE, with '\\' between
// names as system.reg writes them) that leads to the key TARGET.
std::string LinkKey(const std::string &path, const std::string &target)
{
    std::string hex;
    for (char c : "\\Registry\\Machine\\" + target) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "%s%02x,00", hex.empty() ? "" : ",", static_cast<unsigned char>(c));
        hex += byte;
    }
    std::string line = "[";
    for (char c : path) line += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return line + "] 1\n#link\n\"SymbolicLinkValue\"=hex(6):" + hex + "\n\n";
}

LONG OpenStatus(const std::string &path)
{
    HKEY key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status;
}

TEST(Registry, LinksThatLoopOrLeadTooFarCannotBeOpened)
{
    const LONG kInvalidParameter = 87;
    // Links to themselves, cycles, and chains up to and past the 32 links
    // that one look-up follows, as Wine answers them: a look-up that needs
    // more is an invalid parameter; a link without a target leads nowhere.
    const std::string k = "Software\\Links";
    TempPrefix prefix;
    std::string text = "[Software\\\\Links\\\\Real\\\\Leaf] 1\n\"V\"=\"leaf\"\n\n";
    text += LinkKey(k + "\\ToReal", k + "\\Real");
    text += LinkKey(k + "\\Self", k + "\\Self");
    text += LinkKey(k + "\\CycleA", k + "\\CycleB");
    text += LinkKey(k + "\\CycleB", k + "\\CycleA");
    text += LinkKey(k + "\\IntoSelf", k + "\\Self\\Leaf");
    text += LinkKey(k + "\\ThroughLink", k + "\\ToReal\\Leaf");
    text += "[Software\\\\Links\\\\NoTarget] 1\n#link\n\n";
    // c00 -> c01 -> ... -> c33, a key of its own: cNN is 33 - NN links away.
    for (int i = 0; i < 33; ++i) {
        char from[8], to[8];
        std::snprintf(from, sizeof from, "\\c%02d", i);
        std::snprintf(to, sizeof to, "\\c%02d", i + 1);
        text += LinkKey(k + from, k + to);
    }
    text += "[Software\\\\Links\\\\c33] 1\n\"V\"=\"end\"\n\n";
    // The printers key itself a link to itself.
    text += LinkKey("System\\CurrentControlSet\\Control\\Print\\Printers",
                    "System\\CurrentControlSet\\Control\\Print\\Printers");
    prefix.AddSystemRegText(text);
    prefix.Enter();
    const std::pair<const char *, LONG> cases[] = {
        {"ToReal\\Leaf", ERROR_SUCCESS},
        {"ThroughLink", ERROR_SUCCESS},
        {"Self", kInvalidParameter},
        {"Self\\Leaf", kInvalidParameter},
        {"CycleA", kInvalidParameter},
        {"CycleB\\Leaf", kInvalidParameter},
        {"IntoSelf", kInvalidParameter},
        {"NoTarget", ERROR_FILE_NOT_FOUND},
        {"c33", ERROR_SUCCESS},
        {"c02", ERROR_SUCCESS},
        {"c01", ERROR_SUCCESS},
        {"c00", kInvalidParameter},
    };
    for (const auto &c : cases) EXPECT_EQ(c.second, OpenStatus(k + "\\" + c.first)) << c.first;
    EXPECT_EQ(kInvalidParameter, OpenStatus(kPrinters));
    EXPECT_EQ(kInvalidParameter, OpenStatus(std::string(kPrinters) + "\\Any"));
    // The key that holds the loops still lists them.
    HKEY links;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, k.c_str(), 0, KEY_READ, &links));
    char name[260];
    int listed = 0;
    while (RegEnumKeyA(links, static_cast<DWORD>(listed), name, sizeof name) == ERROR_SUCCESS) ++listed;
    EXPECT_EQ(8 + 34, listed);
    RegCloseKey(links);
}

TEST(Registry, ARootMadeALinkLeavesNoKeyBelowItToOpen)
{
    // A key line that names no key, then #link: the machine's key itself
    // becomes a link and, as in Wine, no key below it opens (with a target
    // or without); the empty path still answers the key itself.
    for (const char *link : {"\"SymbolicLinkValue\"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,00,5c,00,"
                             "4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,79,00,73,00,74,00,65,00,6d,00\n",
                             ""}) {
        TempPrefix prefix;
        prefix.AddPrinter("Kit A", "Kit", "LPT1:");
        prefix.AddSystemRegText(std::string("[] 1\n#link\n") + link);
        prefix.Enter();
        EXPECT_EQ(ERROR_INVALID_HANDLE, OpenStatus(kPrinters)) << link;
        EXPECT_EQ(ERROR_INVALID_HANDLE, OpenStatus("Software")) << link;
        EXPECT_EQ(ERROR_SUCCESS, OpenStatus("")) << link;
    }
}

}  // namespace

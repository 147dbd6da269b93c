// The registry as Wine's system.reg holds it, read through the Win32
// operations.
#include "platform/platform.h"
#include "test_prefix.h"

#include <gtest/gtest.h>

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

}  // namespace

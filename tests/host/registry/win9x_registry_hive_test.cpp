// The registry file of a Windows 95/98/Me drive (SYSTEM.DAT), read through
// the hive interface: files made by tests/support/creg_write.py, read back by
// the reader and by Debian's cregexport; the SYSTEM.DAT of a real Windows Me
// installation; and hostile files, which must be refused or answered, never
// crash or hang the reader.
#include "platform/host/text/cp1252.h"
#include "platform/host/registry/win9x_registry_hive.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using host::HiveKey;
using host::RegistryHive;

const char kPrinters[] = "System\\CurrentControlSet\\Control\\Print\\Printers";

std::string ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Quote(const std::string &s)
{
    return "'" + s + "'";
}

// The standard output of a command, and its exit status.
std::string RunCommand(const std::string &command, int *status)
{
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    int rc = pclose(pipe);
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

class TempDir {
public:
    TempDir()
    {
        char name[] = "/tmp/pfm-creg-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~TempDir() { std::system(("rm -rf " + Quote(path_)).c_str()); }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A registry file made by the writer from a description.
std::string MakeHive(const TempDir &dir, const std::string &description, const std::string &name = "hive.dat",
                     int align = 16)
{
    WriteBytes(dir / (name + ".txt"), description);
    int status = -1;
    RunCommand(std::string(PFM_PYTHON3) + " " + PFM_CREG_WRITE + " " + Quote(dir / (name + ".txt")) + " " +
            Quote(dir / name) + " --align " + std::to_string(align),
        &status);
    EXPECT_EQ(0, status) << "creg_write.py failed on " << name;
    return dir / name;
}

// Every key below `key`, parents first, as '\'-joined paths; at most
// `limit` of them, so that a walk stays bounded whatever the file.
void Walk(const RegistryHive &hive, HiveKey key, const std::string &path, std::vector<std::string> *out,
          std::size_t limit = 100000, int depth = 0)
{
    std::string name;
    for (std::size_t i = 0; out->size() < limit && depth < 64 && hive.SubkeyName(key, i, &name); ++i) {
        std::string sub = path.empty() ? name : path + "\\" + name;
        out->push_back(sub);
        HiveKey child = hive.Find(key, name);
        EXPECT_NE(nullptr, child) << "an enumerated key is not found by its name: " << sub;
        if (child) Walk(hive, child, sub, out, limit, depth + 1);
    }
}

struct ExpectedValue {
    std::string key;
    std::string name;
    uint32_t type;
    std::string data;
};

struct ExportedValue {
    std::string name;
    std::string type;
    std::size_t size = 0;
    std::string bytes;  // from the hex dump, when there is one
    std::string text;   // the "Data:" line
};

struct Exported {
    std::vector<std::string> keys;
    std::vector<std::pair<std::string, ExportedValue>> values;  // by key path
};

// What cregexport shows of a file: its key paths in order, and its values.
Exported Export(const std::string &file, int *status)
{
    Exported out;
    std::istringstream in(RunCommand(std::string(PFM_CREGEXPORT) + " " + Quote(file) + " 2>&1", status));
    std::string line;
    std::string key;
    ExportedValue *value = nullptr;
    while (std::getline(in, line)) {
        if (line.rfind("Key path: ", 0) == 0) {
            key = line.substr(10);
            if (!key.empty()) out.keys.push_back(key);
            value = nullptr;
        } else if (line.rfind("Value: ", 0) == 0) {
            std::size_t space = line.find(' ', 7);
            out.values.push_back({key, ExportedValue()});
            value = &out.values.back().second;
            value->name = space == std::string::npos ? "" : line.substr(space + 1);
            if (value->name == "(default)") value->name.clear();
        } else if (value && line.rfind("Type: ", 0) == 0) {
            value->type = line.substr(6);
        } else if (value && line.rfind("Data size: ", 0) == 0) {
            value->size = std::strtoul(line.c_str() + 11, nullptr, 10);
        } else if (value && line.rfind("Data: ", 0) == 0) {
            value->text = line.substr(6);
        } else if (value && line.size() > 10 && line[8] == ':' && line[9] == ' ') {
            // "00000010: 72 65 20 74 65 78 74 20  68 65 72 65    re text  here"
            for (std::size_t k = 0; k < 16; ++k) {
                std::size_t at = 10 + 3 * k + (k >= 8);
                if (at + 2 > line.size() || line[at] == ' ') break;
                value->bytes += static_cast<char>(std::strtoul(line.substr(at, 2).c_str(), nullptr, 16));
            }
        }
    }
    return out;
}

struct WriterCase {
    const char *name;
    std::string description;
    std::vector<std::string> keys;  // in the order they are enumerated, parents first
    std::vector<ExpectedValue> values;
};

std::string Dword(uint32_t v)
{
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF),
                       static_cast<char>(v >> 16 & 0xFF), static_cast<char>(v >> 24)};
}

std::vector<WriterCase> WriterCases()
{
    std::vector<WriterCase> cases;
    cases.push_back({"printers, every kind of value, names in code page 1252",
                     "[System\\CurrentControlSet\\Control\\Print\\Printers\\Kit Printer]\n"
                     "\"Port\"=\"LPT1:\"\n"
                     "\"Attributes\"=dword:00000a10\n"
                     "\"Blob\"=hex:01,00,ff\n"
                     "@=\"default\"\n"
                     "[System\\CurrentControlSet\\Control\\Print\\Printers\\Alpha]\n"
                     "\"Printer Driver\"=\"KIT \\\"600\\\"\"\n"
                     "\"WithNul\"=hex(1):41,42,00\n"
                     "[System\\CurrentControlSet\\Control\\Print\\Printers\\beta]\n"
                     "[Software\\Caf\xE9]\n"
                     "\"N\xE9\"=\"\xE9t\xE9\"\n",
                     {"System", "System\\CurrentControlSet", "System\\CurrentControlSet\\Control",
                      "System\\CurrentControlSet\\Control\\Print", kPrinters, std::string(kPrinters) + "\\Kit Printer",
                      std::string(kPrinters) + "\\Alpha", std::string(kPrinters) + "\\beta", "Software",
                      "Software\\Caf\xE9"},
                     {{std::string(kPrinters) + "\\Kit Printer", "Port", 1, "LPT1:"},
                      {std::string(kPrinters) + "\\Kit Printer", "Attributes", 4, Dword(0xa10)},
                      {std::string(kPrinters) + "\\Kit Printer", "Blob", 3, std::string("\x01\x00\xff", 3)},
                      {std::string(kPrinters) + "\\Kit Printer", "", 1, "default"},
                      {std::string(kPrinters) + "\\Alpha", "Printer Driver", 1, "KIT \"600\""},
                      {std::string(kPrinters) + "\\Alpha", "WithNul", 1, std::string("AB\0", 3)},
                      {"Software\\Caf\xE9", "N\xE9", 1, "\xE9t\xE9"}}});

    // 700 keys fill three data blocks of at most 255 records; values of
    // 20000 bytes fill blocks by size.
    WriterCase many{"many keys and large values, over several data blocks", "", {"Many"}, {}};
    for (int i = 0; i < 700; ++i) {
        std::string name = "Key" + std::to_string(699 - i);
        many.description += "[Many\\" + name + "]\n\"Index\"=dword:" + std::to_string(10000000 + i) + "\n";
        many.keys.push_back("Many\\" + name);
        uint32_t index = 0;
        std::sscanf(std::to_string(10000000 + i).c_str(), "%x", &index);
        many.values.push_back({"Many\\" + name, "Index", 4, Dword(index)});
    }
    many.keys.push_back("Large");
    for (int i = 0; i < 4; ++i) {
        std::string name = "Large\\L" + std::to_string(i);
        std::string data(20000, static_cast<char>('a' + i));
        std::string hex;
        for (std::size_t k = 0; k < data.size(); ++k) hex += (k ? ",6" : "6") + std::string(1, "1234"[i]);
        many.description += "[" + name + "]\n\"Data\"=hex:" + hex + "\n";
        many.keys.push_back(name);
        many.values.push_back({name, "Data", 3, data});
    }
    cases.push_back(many);
    return cases;
}

TEST(Win9xRegistryWriter, EveryFileReadsBackTheSameThroughTheReaderAndCregexport)
{
    for (const WriterCase &c : WriterCases()) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        for (int align : {16, 4096}) {
            std::string file = MakeHive(dir, c.description, "hive" + std::to_string(align) + ".dat", align);
            std::string why;
            std::unique_ptr<RegistryHive> hive = host::OpenWin9xRegistry(file, &why);
            ASSERT_TRUE(hive) << why;
            std::vector<std::string> keys;
            Walk(*hive, hive->Root(), "", &keys);
            EXPECT_EQ(c.keys, keys);
            for (const ExpectedValue &v : c.values) {
                uint32_t type = 0;
                std::string data;
                HiveKey key = hive->Find(hive->Root(), v.key);
                ASSERT_NE(nullptr, key) << v.key;
                ASSERT_TRUE(hive->Value(key, v.name, &type, &data)) << v.key << " " << v.name;
                EXPECT_EQ(v.type, type) << v.key << " " << v.name;
                EXPECT_EQ(v.data, data) << v.key << " " << v.name;
            }

            int status = -1;
            Exported exported = Export(file, &status);
            EXPECT_EQ(0, status);
            std::vector<std::string> utf8_keys;
            for (const std::string &k : c.keys) utf8_keys.push_back(host::Cp1252ToUtf8(k));
            EXPECT_EQ(utf8_keys, exported.keys);
            ASSERT_EQ(c.values.size(), exported.values.size());
            for (const ExpectedValue &v : c.values) {
                bool seen = false;
                for (const auto &[key, e] : exported.values) {
                    if (key != host::Cp1252ToUtf8(v.key) || e.name != host::Cp1252ToUtf8(v.name)) continue;
                    seen = true;
                    EXPECT_EQ(v.data.size(), e.size) << v.key << " " << v.name;
                    if (v.type == 4)
                        EXPECT_EQ(std::to_string(static_cast<unsigned char>(v.data[0]) |
                                                 static_cast<unsigned char>(v.data[1]) << 8 |
                                                 static_cast<unsigned char>(v.data[2]) << 16 |
                                                 static_cast<unsigned long>(static_cast<unsigned char>(v.data[3])) << 24),
                                  e.text);
                    else
                        EXPECT_EQ(v.data, e.bytes) << v.key << " " << v.name;
                    EXPECT_NE(std::string::npos, e.type.find(v.type == 1 ? "REG_SZ" : v.type == 3 ? "REG_BINARY" : "REG_DWORD"))
                        << e.type;
                }
                EXPECT_TRUE(seen) << "cregexport does not show " << v.key << " " << v.name;
            }
        }
    }
}

TEST(Win9xRegistryWriter, RefusesDescriptionsItCannotStore)
{
    TempDir dir;
    for (const char *bad : {"\"Port\"=\"LPT1:\"\n", "[Key]\n\"Port\"=\"unterminated\n", "[Key]\nPort=1\n",
                            "[Key]\n\"D\"=dword:xyz\n", "[Key]\n\"B\"=hex:0g\n"}) {
        WriteBytes(dir / "bad.txt", bad);
        int status = -1;
        RunCommand(std::string(PFM_PYTHON3) + " " + PFM_CREG_WRITE + " " + Quote(dir / "bad.txt") + " " +
                Quote(dir / "bad.dat") + " 2>/dev/null",
            &status);
        EXPECT_EQ(1, status) << bad;
    }
}

// The SYSTEM.DAT of a real Windows Me installation (tests/data/win9x).
class RealSystemDat : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string why;
        hive_ = host::OpenWin9xRegistry(PFM_WIN9X_DATA "/SYSTEM.DAT", &why).release();
        ASSERT_NE(nullptr, hive_) << why;
    }
    static void TearDownTestSuite()
    {
        delete hive_;
        hive_ = nullptr;
    }
    static std::string Text(const char *key, const char *name, uint32_t want_type)
    {
        HiveKey k = hive_->Find(hive_->Root(), key);
        EXPECT_NE(nullptr, k) << key;
        uint32_t type = 0;
        std::string data;
        if (!k || !hive_->Value(k, name, &type, &data)) return "(none)";
        EXPECT_EQ(want_type, type) << key << " " << name;
        return data;
    }
    static RegistryHive *hive_;
};
RegistryHive *RealSystemDat::hive_ = nullptr;

TEST_F(RealSystemDat, HoldsTheVersionAndTheCodePage)
{
    EXPECT_EQ("4.90.3000", Text("Software\\Microsoft\\Windows\\CurrentVersion", "VersionNumber", 1));
    EXPECT_EQ("1252", Text("System\\CurrentControlSet\\Control\\Nls\\Codepage", "ACP", 1));
    EXPECT_EQ("437", Text("System\\CurrentControlSet\\Control\\Nls\\Codepage", "OEMCP", 1));
}

TEST_F(RealSystemDat, FindsKeysAndValuesWhateverTheirLetterCase)
{
    HiveKey stored = hive_->Find(hive_->Root(), "System\\CurrentControlSet\\Control\\Nls\\Codepage");
    ASSERT_NE(nullptr, stored);
    for (const char *spelling : {"SYSTEM\\CurrentControlSet\\Control\\Nls\\Codepage",
                                 "system\\currentcontrolset\\control\\nls\\codepage",
                                 "\\SYSTEM\\\\CURRENTCONTROLSET\\Control\\NLS\\CodePage\\"})
        EXPECT_EQ(stored, hive_->Find(hive_->Root(), spelling)) << spelling;
    HiveKey control = hive_->Find(hive_->Root(), "SYSTEM\\CURRENTCONTROLSET\\CONTROL");
    ASSERT_NE(nullptr, control);
    EXPECT_EQ(stored, hive_->Find(control, "nls\\CODEPAGE"));
    EXPECT_EQ("1252", Text("SYSTEM\\CURRENTCONTROLSET\\CONTROL\\NLS\\CODEPAGE", "acp", 1));
    EXPECT_EQ(nullptr, hive_->Find(hive_->Root(), "System\\CurrentControlSet\\Control\\Nls\\Codepag"));
    EXPECT_EQ(nullptr, hive_->Find(hive_->Root(), "System\\CurrentControlSet\\Control\\Nls\\Codepage\\x"));

    // The names come back as the file stores them: the top-level keys are
    // "SOFTWARE" and "System" (libcreg's own export shows the same).
    std::vector<std::string> top;
    std::string name;
    for (std::size_t i = 0; hive_->SubkeyName(hive_->Root(), i, &name); ++i) top.push_back(name);
    ASSERT_GE(top.size(), 2u);
    EXPECT_EQ("SOFTWARE", top[0]);
    EXPECT_NE(top.end(), std::find(top.begin(), top.end(), "System"));
}

TEST_F(RealSystemDat, TheNoPrinterInstallationHasAnEmptyPrintersKey)
{
    HiveKey printers = hive_->Find(hive_->Root(), "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers");
    ASSERT_NE(nullptr, printers);
    std::string name;
    EXPECT_FALSE(hive_->SubkeyName(printers, 0, &name)) << name;
    uint32_t type = 0;
    std::string data;
    ASSERT_TRUE(hive_->Value(printers, "startonboot", &type, &data));
    EXPECT_EQ(4u, type);
    EXPECT_EQ(std::string(4, '\0'), data);
    // Besides it the key has only an empty default value.
    ASSERT_TRUE(hive_->Value(printers, "", &type, &data));
    EXPECT_EQ(1u, type);
    EXPECT_EQ("", data);
    EXPECT_FALSE(hive_->Value(printers, "Port", &type, &data));
}

TEST_F(RealSystemDat, EnumeratesSubkeysInTheFilesOrderNotSorted)
{
    HiveKey version = hive_->Find(hive_->Root(), "Software\\Microsoft\\Windows\\CurrentVersion");
    ASSERT_NE(nullptr, version);
    std::vector<std::string> names;
    std::string name;
    for (std::size_t i = 0; hive_->SubkeyName(version, i, &name); ++i) names.push_back(name);
    // The file's own order, as cregexport lists it.
    ASSERT_GE(names.size(), 6u);
    EXPECT_EQ((std::vector<std::string>{"Setup", "RunOnce", "RunOnceEx", "MS-DOSOptions", "SharedDLLs", "Uninstall"}),
              std::vector<std::string>(names.begin(), names.begin() + 6));
    EXPECT_FALSE(hive_->SubkeyName(version, names.size(), &name));
}

TEST_F(RealSystemDat, EveryKeyIsReachedAndAgreesWithCregexport)
{
    std::vector<std::string> keys;
    Walk(*hive_, hive_->Root(), "", &keys);
    int status = -1;
    Exported exported = Export(PFM_WIN9X_DATA "/SYSTEM.DAT", &status);
    ASSERT_EQ(0, status);
    std::vector<std::string> utf8;
    for (const std::string &k : keys) utf8.push_back(host::Cp1252ToUtf8(k));
    EXPECT_GT(keys.size(), 4900u);
    EXPECT_EQ(exported.keys, utf8);
}

// Cut at every boundary between the parts of the file (and a byte either
// side), and with bytes changed at random: each file is refused or read,
// and one that is read answers a walk and the look-ups of a run.
TEST(Win9xRegistryHostile, TheRealFileCutOrCorruptedIsRefusedOrRead)
{
    const std::string real = ReadBytes(PFM_WIN9X_DATA "/SYSTEM.DAT");
    ASSERT_GT(real.size(), 0x40u);
    auto u32 = [&](std::size_t at) {
        return static_cast<uint32_t>(static_cast<unsigned char>(real[at]) |
                                     static_cast<unsigned char>(real[at + 1]) << 8 |
                                     static_cast<unsigned char>(real[at + 2]) << 16 |
                                     static_cast<uint32_t>(static_cast<unsigned char>(real[at + 3])) << 24);
    };
    std::vector<std::size_t> cuts = {0, 4, 0x1F, 0x20, 0x24, 0x3F, 0x40};
    std::size_t at = u32(8);
    cuts.push_back(at);
    while (at + 8 <= real.size() && real.compare(at, 4, "RGDB") == 0 && u32(at + 4) >= 32) {
        cuts.push_back(at + 32);
        at += u32(at + 4);
        cuts.push_back(at);
    }
    ASSERT_GE(cuts.size(), 7u + 1 + 2 * 21);
    TempDir dir;
    int refused = 0;
    for (std::size_t cut : cuts) {
        for (std::size_t len : {cut - (cut > 0), cut, cut + 1}) {
            if (len >= real.size()) continue;
            WriteBytes(dir / "cut.dat", real.substr(0, len));
            std::string why;
            std::unique_ptr<RegistryHive> hive = host::OpenWin9xRegistry(dir / "cut.dat", &why);
            // The header counts 21 data blocks: a file cut short of any is refused.
            EXPECT_EQ(nullptr, hive) << "cut at " << len;
            EXPECT_FALSE(why.empty());
            refused += !hive;
        }
    }
    EXPECT_GT(refused, 40);

    std::mt19937 random(11);
    int opened = 0;
    for (int round = 0; round < 60; ++round) {
        std::string bytes = real;
        int changes = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < changes; ++i) {
            // Mostly the header, the key tree and the start of the first
            // data blocks, where one byte changes the most.
            std::size_t limit = round % 3 == 0 ? bytes.size() : std::size_t(0x23020 + 0x2000);
            bytes[random() % limit] = static_cast<char>(random());
        }
        WriteBytes(dir / "bad.dat", bytes);
        std::string why;
        std::unique_ptr<RegistryHive> hive = host::OpenWin9xRegistry(dir / "bad.dat", &why);
        if (!hive) {
            EXPECT_FALSE(why.empty());
            continue;
        }
        ++opened;
        std::vector<std::string> keys;
        Walk(*hive, hive->Root(), "", &keys, round % 10 == 0 ? 100000 : 300);
        uint32_t type;
        std::string data;
        HiveKey version = hive->Find(hive->Root(), "SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
        if (version) hive->Value(version, "VersionNumber", &type, &data);
        HiveKey printers = hive->Find(hive->Root(), "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers");
        if (printers) hive->Value(printers, "", &type, &data);
    }
    // Changes to the keys' names and values leave a sound file.
    EXPECT_GT(opened, 0);
}

// Offsets into the files the writer makes from kBase: the key tree's entry
// of the n-th key (the root is 0, then the keys parents first, as listed
// in kBase), and the record of a key by its name.
const char kBase[] =
    "[System\\CurrentControlSet\\Control\\Print\\Printers\\Kit Printer]\n"  // keys 1-6
    "\"Port\"=\"LPT1:\"\n"
    "\"Printer Driver\"=\"KIT 600\"\n"
    "[System\\CurrentControlSet\\Control\\Print\\Printers\\Alpha]\n"  // key 7
    "\"Port\"=\"LPT2:\"\n"
    "[Software\\Microsoft\\Windows\\CurrentVersion]\n"  // keys 8-11
    "\"VersionNumber\"=\"4.10.2222\"\n";
enum { kRoot = 0, kControl = 3, kPrintersKey = 5, kKitPrinter = 6, kAlpha = 7 };

std::size_t Entry(int n)
{
    return 0x40 + 28 * static_cast<std::size_t>(n);
}
uint32_t TreeOffset(int n)
{
    return static_cast<uint32_t>(Entry(n) - 0x20);
}

uint32_t Get32(const std::string &b, std::size_t at)
{
    uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
void Put32(std::string &b, std::size_t at, uint32_t v)
{
    std::memcpy(&b[at], &v, 4);
}
void Put16(std::string &b, std::size_t at, uint16_t v)
{
    std::memcpy(&b[at], &v, 2);
}

std::size_t Record(const std::string &b, const std::string &name)
{
    std::size_t block = Get32(b, 8);
    for (std::size_t at = block + 32; at + 20 <= b.size(); at += Get32(b, at)) {
        uint16_t length = 0;
        std::memcpy(&length, b.data() + at + 12, 2);
        if (b.compare(at + 20, length, name) == 0 && length == name.size()) return at;
        if (Get32(b, at) == 0) break;
    }
    ADD_FAILURE() << "no record " << name;
    return 0;
}

struct HostileCase {
    const char *what;
    std::function<void(std::string &)> change;
    const char *refusal;  // a part of the reason given, or null when the file is read
};

std::vector<HostileCase> HostileCases()
{
    const std::string long_name(300, 'N');
    return {
        {"empty", [](std::string &b) { b.clear(); }, "empty file"},
        {"not CREG: a REGEDIT4 text",
         [](std::string &b) { b = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\System]\r\n\"A\"=\"B\"\r\n"; }, "no CREG header"},
        {"not CREG: Wine's system.reg", [](std::string &b) { b = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n"; },
         "no CREG header"},
        {"the header alone", [](std::string &b) { b.resize(0x20); }, "no key tree"},
        {"cut after the key tree", [](std::string &b) { b.resize(Get32(b, 8)); }, "data block (RGDB) is missing"},
        {"cut inside the data block", [](std::string &b) { b.resize(Get32(b, 8) + 40); }, "runs past the end"},
        {"cut by one byte", [](std::string &b) { b.pop_back(); }, "runs past the end"},
        {"a sibling offset pointing to its own key",
         [](std::string &b) { Put32(b, Entry(kKitPrinter) + 20, TreeOffset(kKitPrinter)); }, "loop"},
        {"a sibling offset pointing back to an earlier sibling",
         [](std::string &b) { Put32(b, Entry(kAlpha) + 20, TreeOffset(kKitPrinter)); }, "loop"},
        {"a sibling offset into the middle of an entry",
         [](std::string &b) { Put32(b, Entry(kKitPrinter) + 20, TreeOffset(kKitPrinter) + 5); }, "no record"},
        {"a child offset pointing to the root", [](std::string &b) { Put32(b, Entry(kKitPrinter) + 16, TreeOffset(kRoot)); },
         "loop"},
        {"a child offset pointing to the key's parent",
         [](std::string &b) { Put32(b, Entry(kKitPrinter) + 16, TreeOffset(kPrintersKey)); }, "loop"},
        {"a child offset pointing to an ancestor",
         [](std::string &b) { Put32(b, Entry(kAlpha) + 16, TreeOffset(kControl)); }, "loop"},
        {"a child offset past the end of the file",
         [](std::string &b) { Put32(b, Entry(kKitPrinter) + 16, 0x7FFFFFF0); }, "outside the tree's entries"},
        {"a sibling offset past the end of the key tree",
         [](std::string &b) { Put32(b, Entry(kKitPrinter) + 20, Get32(b, 0x24)); }, "outside the tree's entries"},
        {"a child offset into the key tree's last 32 bytes, which libcreg does not read",
         [](std::string &b) { Put32(b, Entry(kKitPrinter) + 16, Get32(b, 0x24) - 40); }, "outside the tree's entries"},
        {"bytes after the last data block", [](std::string &b) { b += std::string(64, '\0'); }, "bytes follow the last"},
        {"a child offset 0, into the key tree's header",
         [](std::string &b) { Put32(b, Entry(kAlpha) + 16, 0); }, "outside the tree's entries"},
        {"the root's child offset past the end",
         [](std::string &b) { Put32(b, Entry(kRoot) + 16, static_cast<uint32_t>(b.size())); }, "outside the tree's entries"},
        {"the first data block's offset past the end", [](std::string &b) { Put32(b, 8, 0x7FFFFFF0); },
         "data block (RGDB) is missing"},
        {"more data blocks counted than the file holds", [](std::string &b) { Put16(b, 16, 0xFFFF); },
         "data block (RGDB) is missing"},
        {"the key tree's size past the end", [](std::string &b) { Put32(b, 0x24, 0x7FFFFFF0); }, "key tree runs past"},
        {"the key tree's size 0", [](std::string &b) { Put32(b, 0x24, 0); }, "key tree's header"},
        {"a data block's size past the end", [](std::string &b) { Put32(b, Get32(b, 8) + 4, 0x7FFFFFF0); }, "runs past the end"},
        {"a data block's size 0", [](std::string &b) { Put32(b, Get32(b, 8) + 4, 0); }, "data block's header"},
        {"a key record's size 0", [](std::string &b) { Put32(b, Get32(b, 8) + 32, 0); }, "record runs past its data block"},
        {"a key record's size past its block", [](std::string &b) { Put32(b, Get32(b, 8) + 32, 0xFFFFFFF0); },
         "record runs past its data block"},
        {"a value longer than its record",
         [](std::string &b) { Put16(b, Record(b, "Kit Printer") + 20 + 11 + 10, 0xFFFF); }, "value runs past its key record"},
        {"a value name longer than its record",
         [](std::string &b) { Put16(b, Record(b, "Kit Printer") + 20 + 11 + 8, 0xFFFF); }, "value runs past its key record"},
        {"more values counted than the record holds",
         [](std::string &b) { Put16(b, Record(b, "Kit Printer") + 14, 0xFFFF); }, "value runs past its key record"},
        {"a key name longer than its record", [](std::string &b) { Put16(b, Record(b, "Kit Printer") + 12, 0xFFFF); },
         "key name runs past its record"},
        {"a key whose data block does not exist", [](std::string &b) { Put16(b, Entry(kKitPrinter) + 26, 0x7FF0); },
         "no record"},
        {"a key whose record does not exist", [](std::string &b) { Put16(b, Entry(kKitPrinter) + 24, 0x7FF0); },
         "no record"},
        {"two records with one number",
         [](std::string &b) { Put16(b, Record(b, "Alpha") + 4, static_cast<uint16_t>(Get32(b, Record(b, "Kit Printer") + 4))); },
         "two key records"},
        {"a key's name hash wrong (not used for look-ups)", [](std::string &b) { Put32(b, Entry(kKitPrinter) + 4, 0); },
         nullptr},
    };
}

TEST(Win9xRegistryHostile, EachBadFileIsRefusedWithItsReason)
{
    TempDir dir;
    const std::string base = ReadBytes(MakeHive(dir, kBase));
    ASSERT_FALSE(base.empty());
    {
        std::string why;
        ASSERT_TRUE(host::OpenWin9xRegistry(dir / "hive.dat", &why)) << why;
    }
    for (const HostileCase &c : HostileCases()) {
        SCOPED_TRACE(c.what);
        std::string bytes = base;
        c.change(bytes);
        WriteBytes(dir / "bad.dat", bytes);
        std::string why;
        std::unique_ptr<RegistryHive> hive = host::OpenWin9xRegistry(dir / "bad.dat", &why);
        if (c.refusal) {
            EXPECT_EQ(nullptr, hive);
            EXPECT_NE(std::string::npos, why.find(c.refusal)) << why;
            EXPECT_EQ(0u, why.find(dir / "bad.dat")) << "the reason names the file: " << why;
        } else {
            ASSERT_NE(nullptr, hive) << why;
            std::vector<std::string> keys;
            Walk(*hive, hive->Root(), "", &keys);
            EXPECT_EQ(11u, keys.size());
            EXPECT_NE(nullptr, hive->Find(hive->Root(), std::string(kPrinters) + "\\KIT PRINTER"));
        }
    }
}

TEST(Win9xRegistryHostile, MissingFilesAndFoldersAreRefused)
{
    TempDir dir;
    std::string why;
    EXPECT_EQ(nullptr, host::OpenWin9xRegistry(dir / "absent.dat", &why));
    EXPECT_NE(std::string::npos, why.find("No such file")) << why;
    EXPECT_EQ(nullptr, host::OpenWin9xRegistry(dir / "", &why));
    EXPECT_NE(std::string::npos, why.find("not a file")) << why;
    // A tree with no keys but the root: libcreg finds no root key in it.
    EXPECT_EQ(nullptr, host::OpenWin9xRegistry(MakeHive(dir, "; nothing\n"), &why));
    EXPECT_NE(std::string::npos, why.find("no root key")) << why;
}

TEST(Win9xRegistryHostile, AKeyNameOf300BytesIsReadWhole)
{
    TempDir dir;
    const std::string name(300, 'N');
    std::string file = MakeHive(dir, std::string(kBase) + "[" + kPrinters + "\\" + name + "]\n\"Port\"=\"LPT3:\"\n");
    std::string why;
    std::unique_ptr<RegistryHive> hive = host::OpenWin9xRegistry(file, &why);
    ASSERT_NE(nullptr, hive) << why;
    HiveKey printers = hive->Find(hive->Root(), kPrinters);
    ASSERT_NE(nullptr, printers);
    std::string got;
    ASSERT_TRUE(hive->SubkeyName(printers, 2, &got));
    EXPECT_EQ(name, got);
    HiveKey key = hive->Find(printers, std::string(300, 'n'));
    ASSERT_NE(nullptr, key);
    uint32_t type = 0;
    std::string data;
    ASSERT_TRUE(hive->Value(key, "PORT", &type, &data));
    EXPECT_EQ("LPT3:", data);
}

}  // namespace

// Hostile input of every kind the installation reads: setup description
// files, system.reg, printer values, port names, soft-font counts and model
// counts. Each case is a row of docs/hostile-input.md, with the outcome
// stated there.
#include "install/install_run.h"
#include "platform/host/installation/installation.h"
#include "platform/host/profile/document.h"
#include "setup/setup_file.h"
#include "test_prefix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

using host::ProfileDocument;
using pfmtest::TempPrefix;

namespace {

const char kWinIni[] = "[windows]\r\nload=\r\n\r\n[Desktop]\r\nWallpaper=(None)\r\n";
const char kSystem[] = "C:\\windows\\system32\\";

std::string Kit(const std::string &model_count = "1", const std::string &fonts = "softfont1=ABCD.PFM\r\n")
{
    return "[PrinterInfo]\r\noem=Hostile\r\nPSKit=Kit\r\nNumberOfModel=" + model_count +
           "\r\nModel1=Kit PS\r\n\r\n[PostScript]\r\n" + fonts + "\r\n[Pscript TrueType Substitutions]\r\nArial=Kit Sans\r\n";
}

// Pseudo-random bytes, the same on every run.
std::string Junk(std::size_t n, uint32_t seed)
{
    std::string out(n, '\0');
    for (char &c : out) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return out;
}

class Hostile : public ::testing::Test {
protected:
    void SetUp() override { prefix.WriteWinIni(kWinIni); }

    int Run()
    {
        prefix.Enter();
        BuildSetupFilePath();
        int result = InstallPrinterFonts();
        host::Installation::Reset();
        return result;
    }

    // The section of a port after the run, parsed as the platform reads it.
    ProfileDocument WinIni() const { return ProfileDocument::Parse(prefix.ReadWinIni()); }

    std::string Value(const std::string &section, const std::string &key) const
    {
        ProfileDocument doc = WinIni();
        ProfileDocument::KeyValue kv;
        if (!doc.FindKey(section, key, &kv)) return "<absent>";
        return std::string(kv.value);
    }

    void ExpectUnchanged() const { EXPECT_EQ(prefix.ReadWinIni(), kWinIni); }

    // The usual outcome of the kit on LPT1: one font, the substitution.
    void ExpectInstalled(const std::string &font = "ABCD.PFM") const
    {
        EXPECT_EQ(Value("PostScript,LPT1", "Softfonts"), "1");
        EXPECT_EQ(Value("PostScript,LPT1", "softfont1"), kSystem + font);
        EXPECT_EQ(Value("Pscript TrueType Substitutions", "Arial"), "Kit Sans");
        EXPECT_EQ(Value("windows", "load"), "");
        EXPECT_EQ(Value("Desktop", "Wallpaper"), "(None)");
    }

    TempPrefix prefix;
};

// --- Setup description files -------------------------------------------

TEST_F(Hostile, EmptyOrBinarySetupFilesMatchNothing)
{
    prefix.AddPrinter("P", "Kit PS", "LPT1:");
    prefix.WriteKit("");
    EXPECT_EQ(Run(), 0);
    ExpectUnchanged();
    prefix.WriteKit(Junk(1 << 16, 1));
    EXPECT_EQ(Run(), 0);
    ExpectUnchanged();
}

TEST_F(Hostile, BinaryJunkAroundTheEntriesDoesNotHideThem)
{
    prefix.AddPrinter("P", "Kit PS", "LPT1:");
    std::string junk = Junk(4096, 7);
    for (char &c : junk)
        if (c == '[' || c == '\r' || c == '\n') c = 'x';  // junk lines, never headers
    prefix.WriteKit(junk + "\r\n" + Kit() + junk + "\r\n");
    EXPECT_EQ(Run(), 1);
    ExpectInstalled();
}

TEST_F(Hostile, Utf16SetupFilesReadAsTextWithAByteOrderMarkOnly)
{
    prefix.AddPrinter("P", "Kit PS", "LPT1:");
    std::string kit = Kit();
    std::string le = "\xFF\xFE", bare;
    for (char c : kit) {
        le += c;
        le += '\0';
        bare += c;
        bare += '\0';
    }
    prefix.WriteKit(le);
    EXPECT_EQ(Run(), 1);
    ExpectInstalled();

    prefix.WriteWinIni(kWinIni);
    prefix.WriteKit(bare);  // without the mark: ANSI text full of NULs
    EXPECT_EQ(Run(), 0);
    ExpectUnchanged();
}

TEST_F(Hostile, ANulByteEndsTheTextItStandsIn)
{
    prefix.AddPrinter("P", "Kit PS", "LPT1:");
    std::string kit = Kit("1", std::string("softfont1=ABCD.PFM\0EFGH.PFM\r\n", 29));
    std::string model = "Model1=Kit PS\r\n";
    kit.replace(kit.find(model), model.size(), std::string("Model1=Kit PS\0 and more\r\n", 25));
    prefix.WriteKit(kit);
    EXPECT_EQ(Run(), 1);
    ExpectInstalled();
}

TEST_F(Hostile, AFileWithoutLineEndsIsOneLine)
{
    prefix.AddPrinter("P", "Kit PS", "LPT1:");
    prefix.WriteKit("[PrinterInfo] NumberOfModel=1 Model1=Kit PS [PostScript] softfont1=ABCD.PFM");
    EXPECT_EQ(Run(), 0);
    ExpectUnchanged();
    // Only the last line without its end: read as usual.
    std::string kit = Kit();
    prefix.WriteKit(kit.substr(0, kit.size() - 2));
    EXPECT_EQ(Run(), 1);
    ExpectInstalled();
}

TEST_F(Hostile, AMegabyteLineIsCutToItsBuffer)
{
    prefix.AddPrinter("P", "Kit PS", "LPT1:");
    std::string long_value(1 << 20, 'L');
    prefix.WriteKit(";" + std::string(1 << 20, 'c') + "\r\n" + Kit("1", "softfont1=" + long_value + "\r\n"));
    EXPECT_EQ(Run(), 1);
    ExpectInstalled(std::string(259, 'L'));
}

TEST_F(Hostile, AHundredMegabyteLineIsCutToItsBuffer)
{
    prefix.AddPrinter("P", "Kit PS", "LPT1:");
    {
        // Written in pieces: the test holds no copy of its own.
        std::ofstream out(prefix.kit + "/pfmsetup.ini", std::ios::binary);
        std::string kit = Kit("1", "");
        out << kit.substr(0, kit.find("[PostScript]")) << "[PostScript]\r\nsoftfont1=";
        std::string piece(1 << 20, 'H');
        for (int i = 0; i < 100; ++i) out << piece;
        out << "\r\n" << kit.substr(kit.find("[Pscript"));
        ASSERT_TRUE(out.good());
    }
    EXPECT_EQ(Run(), 1);
    ExpectInstalled(std::string(259, 'H'));
}

// --- system.reg -----------------------------------------------------------

TEST_F(Hostile, ATruncatedSystemRegKeepsTheWholePrinters)
{
    prefix.AddPrinter("A", "Kit PS", "LPT1:");
    // Each cut, and the port it leaves printer B: none, or the bytes of a
    // hex value read up to the cut.
    const std::pair<const char *, const char *> cuts[] = {
        {"[System\\\\CurrentControlSet\\\\Control\\\\Print\\\\Printers\\\\B] 1\n\"Printer Driver\"=\"Kit PS\"\n\"Port\"=\"LPT", nullptr},
        {"[System\\\\CurrentControlSet\\\\Control\\\\Print\\\\Printers\\\\B] 1\n\"Printer Driver\"=\"Kit PS\"\n\"Port\"=hex:4c,50,\\", "LP"},
        {"[System\\\\CurrentControlSet\\\\Control\\\\Print\\\\Printers\\\\B", nullptr},
        {"[System\\\\CurrentControlSet\\\\Control\\\\Print\\\\Printers\\\\B] 1\n\"Printer Dri", nullptr},
    };
    prefix.WriteKit(Kit());
    const std::string whole = pfmtest::ReadFile(prefix.prefix + "/system.reg");
    for (const auto &cut : cuts) {
        prefix.WriteWinIni(kWinIni);
        pfmtest::WriteFile(prefix.prefix + "/system.reg", whole + cut.first);
        EXPECT_EQ(Run(), 1) << cut.first;
        ExpectInstalled();
        ProfileDocument doc = WinIni();
        // windows, Desktop, the port, the substitutions, and B's port if any
        EXPECT_EQ(doc.SectionNames().size(), cut.second ? 5u : 4u) << cut.first;
        if (cut.second) {
            EXPECT_EQ(Value(std::string("PostScript,") + cut.second, "Softfonts"), "1");
        }
    }
}

TEST_F(Hostile, MalformedSystemRegLinesAreSkipped)
{
    prefix.AddSystemRegText(
        "\"Orphan\"=\"a value before any key\"\n"
        "[System\\\\CurrentControlSet\\\\Control\\\\Print\\\\Printers\\\\Bad] 1\n"
        "\"Printer Driver\"=\"Kit PS\"\n"
        "\"Port\"=bogus:12\n"
        "\"Port\"=hex:zz,4c\n"
        "\"Port\"=dword:123456789\n"
        "Port=\"unquoted name\"\n"
        "\"Port\"=str(2)\"no colon\"\n"
        "[System\\\\CurrentControlSet\\\\Control\\\\Print\\\\Printers\\\\Good] 1\n"
        "\"Printer Driver\"=\"Kit PS\"\n"
        "\"Port\"=\"LPT1:\"\n" +
        pfmtest::ReadFile(PFMRES_DLL).substr(0, 512) + "\n");
    prefix.WriteKit(Kit());
    EXPECT_EQ(Run(), 1);
    ExpectInstalled();
    ProfileDocument doc = WinIni();
    EXPECT_EQ(doc.SectionNames().size(), 4u);
}

TEST_F(Hostile, ABinaryOrMissingSystemRegMatchesNothing)
{
    prefix.WriteKit(Kit());
    pfmtest::WriteFile(prefix.prefix + "/system.reg", Junk(1 << 16, 3));
    EXPECT_EQ(Run(), 0);
    ExpectUnchanged();
    ASSERT_EQ(std::remove((prefix.prefix + "/system.reg").c_str()), 0);
    EXPECT_EQ(Run(), 0);
    ExpectUnchanged();
}

TEST_F(Hostile, LinksThatLoopAreKeysThatCannotBeOpened)
{
    // The inputs that once overflowed the stack: the printers key a link to
    // itself (no printers key), and two printers linked to each other
    // beside an ordinary one (those two are skipped).
    const std::string dir = std::string(PFM_FUZZ_REGRESSIONS) + "/registry_fuzz/";
    prefix.WriteKit(Kit());
    pfmtest::WriteFile(prefix.prefix + "/system.reg", pfmtest::ReadFile(dir + "printers_self_link.reg"));
    EXPECT_EQ(Run(), 0);
    ExpectUnchanged();
    std::string cycle = pfmtest::ReadFile(dir + "printers_link_cycle.reg");
    const std::string kit_a = "Kit A] 1700000000\n\"Printer Driver\"=\"Kit PS\"\n\"Port\"=\"LPT1:\"";
    ASSERT_NE(cycle.find(kit_a), std::string::npos);
    pfmtest::WriteFile(prefix.prefix + "/system.reg", cycle);
    EXPECT_EQ(Run(), 1);
    ExpectInstalled();
    EXPECT_EQ(WinIni().SectionNames().size(), 4u);
}

// --- Printer values and port names ---------------------------------------

TEST_F(Hostile, PrinterValuesUpTo2047BytesAreTakenLongerOnesSkipped)
{
    prefix.WriteKit(Kit());
    std::string port2047 = std::string(2046, 'P') + ":";
    prefix.AddPrinter("A 2047", "Kit PS", port2047);
    prefix.AddPrinter("B 2048", "Kit PS", std::string(2048, 'Q'));
    prefix.AddPrinter("C 4096", "Kit PS", std::string(4096, 'R'));
    std::string hex2048 = "hex:", hex2047 = "hex:";
    for (int i = 0; i < 2048; ++i) hex2048 += i ? ",53" : "53";
    for (int i = 0; i < 2047; ++i) hex2047 += i ? ",54" : "54";
    prefix.AddPrinterLines("D binary 2048", {"\"Printer Driver\"=\"Kit PS\"", "\"Port\"=" + hex2048});
    prefix.AddPrinterLines("E binary 2047", {"\"Printer Driver\"=\"Kit PS\"", "\"Port\"=" + hex2047});
    prefix.AddPrinterLines("F driver 2048", {"\"Printer Driver\"=" + pfmtest::RegString(std::string(2048, 'D')), "\"Port\"=\"LPT3:\""});
    EXPECT_EQ(Run(), 1);
    ProfileDocument doc = WinIni();
    // 2047 characters: the port copy keeps 1023 of them, colon and all.
    EXPECT_EQ(Value("PostScript," + std::string(1023, 'P'), "Softfonts"), "1");
    EXPECT_EQ(Value("PostScript," + std::string(1023, 'T'), "Softfonts"), "1");
    EXPECT_FALSE(doc.HasSection("PostScript," + std::string(1023, 'Q')));
    EXPECT_FALSE(doc.HasSection("PostScript," + std::string(1023, 'R')));
    EXPECT_FALSE(doc.HasSection("PostScript," + std::string(1023, 'S')));
    EXPECT_FALSE(doc.HasSection("PostScript,LPT3"));
    EXPECT_EQ(doc.SectionNames().size(), 5u);
}

TEST_F(Hostile, PortsWithLineBreaksAreSkippedAndBracketsOrEqualsReadBack)
{
    prefix.WriteKit(Kit());
    prefix.AddPrinter("CR", "Kit PS", "LPT\r1:");
    prefix.AddPrinter("LF", "Kit PS", "LPT\n2:");
    prefix.AddPrinter("CRLF", "Kit PS", "\r\n[windows]\r\nload=evil.exe");
    prefix.AddPrinter("Bracket", "Kit PS", "LPT]3:");
    prefix.AddPrinter("Bracket end", "Kit PS", "]");
    prefix.AddPrinter("Equals", "Kit PS", "A=B:");
    prefix.AddPrinter("Open", "Kit PS", "[LPT4]");
    EXPECT_EQ(Run(), 1);
    ProfileDocument doc = WinIni();
    for (const char *section : {"PostScript,LPT]3", "PostScript,]", "PostScript,A=B", "PostScript,[LPT4]"}) {
        EXPECT_EQ(Value(section, "Softfonts"), "1") << section;
        EXPECT_EQ(Value(section, "softfont1"), std::string(kSystem) + "ABCD.PFM") << section;
    }
    EXPECT_EQ(doc.SectionNames().size(), 7u);
    EXPECT_EQ(Value("windows", "load"), "");
    EXPECT_EQ(prefix.ReadWinIni().find("evil"), std::string::npos);
    EXPECT_EQ(prefix.ReadWinIni().find("LPT\r"), std::string::npos);
}

// --- Counts ---------------------------------------------------------------

TEST_F(Hostile, AtMost65534SoftFontsAreRegistered)
{
    prefix.AddPrinter("P", "Kit PS", "LPT1:");
    for (int total : {65534, 65535}) {
        std::string fonts;
        fonts.reserve(static_cast<std::size_t>(total) * 24);
        char line[48];
        for (int i = 1; i <= total; ++i) {
            std::snprintf(line, sizeof line, "softfont%d=F%05d.PFM\r\n", i, i);
            fonts += line;
        }
        prefix.WriteWinIni(kWinIni);
        prefix.WriteKit(Kit("1", fonts));
        EXPECT_EQ(Run(), 1) << total;
        ProfileDocument doc = WinIni();
        ProfileDocument::KeyValue kv;
        ASSERT_TRUE(doc.FindKey("PostScript,LPT1", "Softfonts", &kv));
        EXPECT_EQ(kv.value, "65534") << total;
        ASSERT_TRUE(doc.FindKey("PostScript,LPT1", "softfont65534", &kv));
        EXPECT_EQ(kv.value, std::string(kSystem) + "F65534.PFM");
        EXPECT_FALSE(doc.FindKey("PostScript,LPT1", "softfont65535", &kv)) << total;
        EXPECT_EQ(doc.SectionLines("PostScript,LPT1", true).size(), 65535u) << total;
    }
}

// Where a Windows 9x drive refuses a WIN.INI above 64 KB, reads "+1" as 0
// and adds a blank line before a new section (win9x_drive.win_ini_*,
// model_count_plus), a prefix answers as Wine.
TEST_F(Hostile, APrefixKeepsWinesAnswersWhereWindows9xDiffers)
{
    const std::string above = kWinIni + (";" + std::string(host::kWin9xProfileLimit, 'x')) + "\r\n";
    prefix.WriteWinIni(above);
    prefix.AddPrinter("P", "Kit PS", "LPT1:");
    prefix.WriteKit(Kit("+1"));
    EXPECT_EQ(Run(), 1);
    ExpectInstalled();
    EXPECT_EQ(prefix.ReadWinIni().rfind(above + "[PostScript,LPT1]\r\n", 0), 0u);
}

TEST_F(Hostile, ModelCountsBelowOneOrBeyondTheCapMatchNothing)
{
    // A printer with an empty driver name would match the one empty record
    // that a count below 1 leaves, were it ever compared.
    prefix.AddPrinter("Empty", "", "LPT2:");
    prefix.AddPrinter("P", "Kit PS", "LPT1:");
    for (const char *count : {"-1", "0", "2147483647", "4294967295", "0x7FFFFFFF", "262145"}) {
        prefix.WriteKit(Kit(count));
        EXPECT_EQ(Run(), 0) << count;
        ExpectUnchanged();
    }
}

}  // namespace

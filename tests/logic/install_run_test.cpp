// Whole installation runs against temporary prefixes, checked against the
// exact text of the resulting win.ini.
#include "install/install_run.h"
#include "platform/host/installation/installation.h"
#include "setup/setup_file.h"
#include "test_prefix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using pfmtest::TempPrefix;

namespace {

const char kKit[] =
    "[PrinterInfo]\r\n"
    "oem=Example Printers\r\n"
    "PSKit=Example PS Kit\r\n"
    "NumberOfModel=2\r\n"
    "Model1=Example Laser PS\r\n"
    "Model2=Example Jet PS\r\n"
    "\r\n"
    "[PostScript]\r\n"
    "softfont1=EXROM.PFM\r\n"
    "softfont2=EXBOLD.PFM\r\n"
    "\r\n"
    "[Pscript TrueType Substitutions]\r\n"
    "Arial=Helvetica\r\n"
    "Times New Roman=Times\r\n";

const char kWinIni[] =
    "; system profile\r\n"
    "[windows]\r\n"
    "load=\r\n"
    "run=\r\n"
    "\r\n"
    "[Desktop]\r\n"
    "Wallpaper=(None)\r\n";

class InstallRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        prefix.WriteKit(kKit);
        prefix.WriteWinIni(kWinIni);
    }

    // Runs the installation as the program does and writes win.ini out.
    int Run()
    {
        prefix.Enter();
        BuildSetupFilePath();
        int result = InstallPrinterFonts();
        host::Installation::Reset();
        return result;
    }

    TempPrefix prefix;
};

const char kPortSectionLpt1[] =
    "[PostScript,LPT1]\r\n"
    "Softfonts=2\r\n"
    "softfont1=C:\\windows\\system32\\EXROM.PFM\r\n"
    "softfont2=C:\\windows\\system32\\EXBOLD.PFM\r\n";

const char kSubstitutions[] =
    "[Pscript TrueType Substitutions]\r\n"
    "Arial=Helvetica\r\n"
    "Times New Roman=Times\r\n";

TEST_F(InstallRun, RegistersEveryMatchingPortAndCopiesSubstitutions)
{
    prefix.AddPrinter("Laser", "Example Laser PS", "LPT1:");
    prefix.AddPrinter("Jet to file", "Example Jet PS", "FILE:");
    prefix.AddPrinter("Other", "Some Other Driver", "LPT2:");
    EXPECT_EQ(1, Run());
    // Printers enumerate by name without case: "Jet to file" before "Laser".
    EXPECT_EQ(std::string(kWinIni) +
                  "[PostScript,FILE]\r\n"
                  "Softfonts=2\r\n"
                  "softfont1=C:\\windows\\system32\\EXROM.PFM\r\n"
                  "softfont2=C:\\windows\\system32\\EXBOLD.PFM\r\n" +
                  kPortSectionLpt1 + kSubstitutions,
              prefix.ReadWinIni());
}

TEST_F(InstallRun, ReplacesAStalePortSectionWhereverItStood)
{
    prefix.AddPrinter("Laser", "Example Laser PS", "LPT1:");
    prefix.WriteWinIni(
        "[windows]\r\nload=\r\n\r\n"
        "[postscript,lpt1]\r\nMFDFile=C:\\OLD.MFD\r\nSoftfonts=9\r\nsoftfont9=X.PFM\r\n\r\n"
        "[Pscript TrueType Substitutions]\r\nArial=Old\r\nCourier New=Courier\r\n"
        "[Desktop]\r\nWallpaper=(None)");
    EXPECT_EQ(1, Run());
    EXPECT_EQ(
        "[windows]\r\nload=\r\n\r\n"
        "[Pscript TrueType Substitutions]\r\nArial=Helvetica\r\nCourier New=Courier\r\nTimes New Roman=Times\r\n"
        "[Desktop]\r\nWallpaper=(None)\r\n" +
            std::string(kPortSectionLpt1),
        prefix.ReadWinIni());
}

TEST_F(InstallRun, MatchesDriversWithLetterCaseCounting)
{
    prefix.AddPrinter("Laser", "example laser ps", "LPT1:");
    EXPECT_EQ(0, Run());
    EXPECT_EQ(kWinIni, prefix.ReadWinIni());
}

TEST_F(InstallRun, ChangesNothingOutsideTheWindows9xFamily)
{
    prefix.AddPrinter("Laser", "Example Laser PS", "LPT1:");
    prefix.SetVersion(TempPrefix::Version::WinNt);
    EXPECT_EQ(0, Run());
    EXPECT_EQ(kWinIni, prefix.ReadWinIni());

    // A version chosen in Wine's settings wins over the registry's own.
    prefix.SetUserRegText("[Software\\\\Wine] 1700000000\n\"Version\"=\"win98\"\n");
    EXPECT_EQ(1, Run());
}

TEST_F(InstallRun, FailsWithoutModelsOrPrinters)
{
    prefix.AddPrinter("Laser", "Example Laser PS", "LPT1:");
    for (const char *count : {"", "NumberOfModel=0\r\n", "NumberOfModel=-1\r\n"}) {
        prefix.WriteKit(std::string("[PrinterInfo]\r\n") + count + "Model1=Example Laser PS\r\n" +
                        "[PostScript]\r\nsoftfont1=EXROM.PFM\r\n");
        EXPECT_EQ(0, Run()) << count;
        EXPECT_EQ(kWinIni, prefix.ReadWinIni());
    }
    prefix.WriteKit(kKit);
    // No printers key at all.
    std::string reg = pfmtest::ReadFile(prefix.prefix + "/system.reg");
    for (std::size_t at; (at = reg.find("Print\\\\Printers")) != std::string::npos;) reg.replace(at, 5, "Xrint");
    pfmtest::WriteFile(prefix.prefix + "/system.reg", reg);
    EXPECT_EQ(0, Run());
    EXPECT_EQ(kWinIni, prefix.ReadWinIni());
}

TEST_F(InstallRun, MissingSetupFileMatchesNothing)
{
    prefix.AddPrinter("Laser", "Example Laser PS", "LPT1:");
    ASSERT_EQ(0, remove((prefix.kit + "/pfmsetup.ini").c_str()));
    EXPECT_EQ(0, Run());
    EXPECT_EQ(kWinIni, prefix.ReadWinIni());
}

TEST_F(InstallRun, TwoPrintersOnOnePortAndADoubleModelWriteOneSection)
{
    prefix.AddPrinter("Laser A", "Example Laser PS", "LPT1:");
    prefix.AddPrinter("Laser B", "Example Jet PS", "LPT1:");
    prefix.WriteKit(std::string(kKit) + "[PrinterInfo]\r\n");
    EXPECT_EQ(1, Run());
    EXPECT_EQ(std::string(kWinIni) + kPortSectionLpt1 + kSubstitutions, prefix.ReadWinIni());
}

TEST_F(InstallRun, AnAbsentModelKeyMatchesAnEmptyDriverName)
{
    prefix.WriteKit("[PrinterInfo]\r\nNumberOfModel=3\r\nModel1=A\r\nModel3=C\r\n"
                    "[PostScript]\r\nsoftfont1=ABCD\r\n");
    prefix.AddPrinter("Nameless", "", "COM1:");
    EXPECT_EQ(1, Run());
    EXPECT_EQ(std::string(kWinIni) + "[PostScript,COM1]\r\nSoftfonts=1\r\nsoftfont1=C:\\windows\\system32\\ABCD\r\n",
              prefix.ReadWinIni());
}

TEST_F(InstallRun, TheFontListEndsAtTheFirstShortOrMissingValue)
{
    prefix.AddPrinter("Laser", "Example Laser PS", "LPT1:");
    prefix.WriteKit("[PrinterInfo]\r\nNumberOfModel=1\r\nModel1=Example Laser PS\r\n"
                    "[PostScript]\r\nsoftfont1=A.PF\r\nsoftfont2=B.PFM\r\nsoftfont4=D.PFM\r\n");
    EXPECT_EQ(1, Run());
    EXPECT_EQ(std::string(kWinIni) +
                  "[PostScript,LPT1]\r\nSoftfonts=2\r\nsoftfont1=C:\\windows\\system32\\A.PF\r\n"
                  "softfont2=C:\\windows\\system32\\B.PFM\r\n",
              prefix.ReadWinIni());

    // With no font at all the section is deleted, and the run still counts.
    prefix.WriteWinIni(std::string(kWinIni) + "[PostScript,LPT1]\r\nSoftfonts=1\r\nsoftfont1=C:\\X.PFM\r\n");
    prefix.WriteKit("[PrinterInfo]\r\nNumberOfModel=1\r\nModel1=Example Laser PS\r\n"
                    "[PostScript]\r\nsoftfont1=ABC\r\nsoftfont2=LONGER.PFM\r\n"
                    "[Pscript TrueType Substitutions]\r\nArial=Helvetica\r\n");
    EXPECT_EQ(1, Run());
    EXPECT_EQ(std::string(kWinIni) + "[Pscript TrueType Substitutions]\r\nArial=Helvetica\r\n", prefix.ReadWinIni());
}

TEST_F(InstallRun, PortNamesLoseOneTrailingColon)
{
    struct Case {
        std::string port;
        std::string section;
    };
    std::string long_port(1030, 'P');
    long_port.back() = ':';
    std::string exact_port(1023, 'Q');
    exact_port.back() = ':';
    const Case cases[] = {
        {"LPT1::", "PostScript,LPT1:"},
        {"", "PostScript,"},
        {"\\\\server\\queue", "PostScript,\\\\server\\queue"},
        {long_port, "PostScript," + std::string(1023, 'P')},
        {exact_port, "PostScript," + std::string(1022, 'Q')},
    };
    for (const Case &c : cases) {
        TempPrefix fresh;
        fresh.WriteKit("[PrinterInfo]\r\nNumberOfModel=1\r\nModel1=M\r\n[PostScript]\r\nsoftfont1=F.PFM\r\n");
        fresh.AddPrinter("P", "M", c.port);
        fresh.Enter();
        BuildSetupFilePath();
        EXPECT_EQ(1, InstallPrinterFonts()) << c.port;
        host::Installation::Reset();
        EXPECT_EQ("[" + c.section + "]\r\nSoftfonts=1\r\nsoftfont1=C:\\windows\\system32\\F.PFM\r\n",
                  fresh.ReadWinIni())
            << c.port;
    }
}

TEST_F(InstallRun, SubstitutionEntriesAreSplitAtTheirFirstEquals)
{
    prefix.AddPrinter("Laser", "Example Laser PS", "LPT1:");
    prefix.WriteKit(std::string(kKit) +
                    "; a comment\r\n=NoKey\r\nNoValue=\r\nno equals at all\r\nA=B=C\r\n\"Quoted\"=\"Q\"\r\n");
    EXPECT_EQ(1, Run());
    EXPECT_EQ(std::string(kWinIni) + kPortSectionLpt1 + kSubstitutions +
                  "=NoKey\r\nNoValue=\r\nA=B=C\r\n\"Quoted\"=\"Q\"\r\n",
              prefix.ReadWinIni());
}

TEST_F(InstallRun, ASubstitutionSectionBeyondTheBufferIsCutAtAnEntry)
{
    prefix.AddPrinter("Laser", "Example Laser PS", "LPT1:");
    std::string kit = "[PrinterInfo]\r\nNumberOfModel=1\r\nModel1=Example Laser PS\r\n"
                      "[Pscript TrueType Substitutions]\r\nA=12345\r\n";
    for (int i = 0; i < 400; ++i) kit += "Font" + std::to_string(1000 + i) + "=Value\r\n";
    prefix.WriteKit(kit);
    EXPECT_EQ(1, Run());
    std::string ini = prefix.ReadWinIni();
    // 4096 bytes hold "A=12345", 272 entries of 15 bytes and the first six
    // letters of the next, cut before its '=': that piece is no entry.
    EXPECT_NE(std::string::npos, ini.find("A=12345\r\nFont1000=Value\r\n"));
    EXPECT_NE(std::string::npos, ini.find("Font1271=Value\r\n"));
    EXPECT_EQ(std::string::npos, ini.find("Font1272"));
    EXPECT_EQ(std::string::npos, ini.find("Font12\r\n"));
}

// Values that fill the whole 2048-byte buffer without a NUL, and ports that
// would break lines of win.ini, are not used.
TEST_F(InstallRun, SkipsPrintersWhoseTextsCannotBeUsed)
{
    std::string full(2048, 'x');
    std::string hex;
    for (char c : full) hex += (hex.empty() ? "" : ",") + std::string(c == 'x' ? "78,00" : "00,00");
    prefix.AddPrinterLines("Full port", {"\"Printer Driver\"=\"Example Laser PS\"", "\"Port\"=hex(1):" + hex});
    prefix.AddPrinter("Broken port", "Example Laser PS", "LPT3:\r\n[windows]");
    prefix.AddPrinter("Long driver", std::string(2048, 'D'), "LPT4:");
    prefix.AddPrinterLines("No port", {"\"Printer Driver\"=\"Example Laser PS\""});
    EXPECT_EQ(0, Run());
    EXPECT_EQ(kWinIni, prefix.ReadWinIni());

    prefix.AddPrinter("Good", "Example Laser PS", "LPT1:");
    EXPECT_EQ(1, Run());
    EXPECT_EQ(std::string(kWinIni) + kPortSectionLpt1 + kSubstitutions, prefix.ReadWinIni());
}

TEST_F(InstallRun, AFailedWriteIsReportedAndLeavesWinIniAlone)
{
    prefix.AddPrinter("Laser", "Example Laser PS", "LPT1:");
    ASSERT_EQ(0, chmod(prefix.WinIniPath().c_str(), 0444));
    EXPECT_EQ(0, Run());
    EXPECT_EQ(kWinIni, prefix.ReadWinIni());
}

TEST_F(InstallRun, AHugeModelCountEndsAsAnUnallocatableList)
{
    prefix.AddPrinter("Laser", "Example Laser PS", "LPT1:");
    prefix.WriteKit("[PrinterInfo]\r\nNumberOfModel=2147483647\r\nModel1=Example Laser PS\r\n"
                    "[PostScript]\r\nsoftfont1=EXROM.PFM\r\n");
    EXPECT_EQ(0, Run());
    EXPECT_EQ(kWinIni, prefix.ReadWinIni());

    // The largest list that is held still runs to its end.
    prefix.WriteKit("[PrinterInfo]\r\nNumberOfModel=262144\r\nModel262144=Example Laser PS\r\n"
                    "[PostScript]\r\nsoftfont1=EXROM.PFM\r\n");
    EXPECT_EQ(1, Run());
}

TEST_F(InstallRun, CreatesAMissingWinIni)
{
    prefix.AddPrinter("Laser", "Example Laser PS", "LPT1:");
    ASSERT_EQ(0, remove(prefix.WinIniPath().c_str()));
    EXPECT_EQ(1, Run());
    EXPECT_EQ(std::string(kPortSectionLpt1) + kSubstitutions, prefix.ReadWinIni());
}

}  // namespace

// Files read and WIN.INI replaced inside disk images through mtools: whole
// runs on each layout, every refusal with the image left as it was, every
// state a killed replacement can leave, and kills at many points.
#include "image_maker.h"
#include "platform/host/disk_image/fat_volume.h"
#include "platform/host/disk_image/image_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace {

using host::DriveEntry;
using host::FatImageDrive;

constexpr uint64_t kMiB = 2048;
const std::string kOldIni = "[windows]\r\nload=\r\nrun=\r\n\r\n[Desktop]\r\nWallpaper=(None)\r\n";

struct Volume {
    std::string image;
    uint64_t offset = 0, size = 0;
};

// A disk as Windows 98's FDISK leaves it: FAT16 (or FAT32, type 0x0C) from sector 63.
Volume MakeWindowsDisk(const pfmtest::ScratchDir &dir, int bits, const std::string &win_ini = kOldIni)
{
    Volume v;
    v.image = dir.Path(bits == 32 ? "fat32.img" : "fat16.img");
    uint64_t sectors = bits == 32 ? 48 * kMiB : 16 * kMiB;
    pfmtest::MakeDisk(v.image, {sectors, {{static_cast<unsigned char>(bits == 32 ? 0x0C : 0x06), true, 63, sectors - 63, bits}}});
    v.offset = 63 * 512;
    v.size = (sectors - 63) * 512;
    pfmtest::AddWindows(v.image, v.offset, win_ini);
    return v;
}

const DriveEntry *Named(const std::vector<DriveEntry> &entries, const std::string &name)
{
    for (const DriveEntry &e : entries)
        if (e.name == name) return &e;
    return nullptr;
}

std::unique_ptr<FatImageDrive> OpenOrFail(const Volume &v)
{
    std::string why;
    auto drive = FatImageDrive::Open(v.image, v.offset, &why);
    EXPECT_TRUE(drive) << why;
    return drive;
}

std::string NewIni(size_t lines)
{
    std::string text = kOldIni + "[PostScript]\r\n";
    for (size_t i = 0; i < lines; ++i) text += "softfont" + std::to_string(i) + "=C:\\PSFONTS\\F" + std::to_string(i) + ".PFM\r\n";
    return text;
}

TEST(FatImageDrive, ListReadReplaceOnEveryLayout)
{
    for (int bits : {16, 32, 12}) {
        SCOPED_TRACE("FAT" + std::to_string(bits));
        pfmtest::ScratchDir dir;
        Volume v;
        if (bits == 12) {
            v.image = dir.Path("floppy.img");
            pfmtest::MakeVolume(v.image, 1440, 12);
            v.size = 1440 * 1024;
            pfmtest::AddWindows(v.image, 0, kOldIni);
        } else {
            v = MakeWindowsDisk(dir, bits);
        }
        pfmtest::WriteBytes(dir.Path("long"), "x");
        ASSERT_EQ(pfmtest::Mtools("mcopy", v.image, v.offset, {dir.Path("long"), "::/WINDOWS/Long Name File.txt"}), 0);
        auto drive = OpenOrFail(v);
        ASSERT_TRUE(drive);
        std::vector<DriveEntry> root, windows;
        ASSERT_TRUE(drive->List("", &root));
        ASSERT_TRUE(Named(root, "MSDOS.SYS"));
        ASSERT_TRUE(Named(root, "WINDOWS") && Named(root, "WINDOWS")->folder);
        ASSERT_TRUE(drive->List("WINDOWS", &windows));
        const DriveEntry *ini = Named(windows, "WIN.INI");
        ASSERT_TRUE(ini);
        EXPECT_EQ(ini->size, kOldIni.size());
        EXPECT_FALSE(ini->folder || ini->read_only);
        EXPECT_TRUE(Named(windows, "Long Name File.txt")) << "long names are listed as they are";
        EXPECT_TRUE(Named(windows, "SYSTEM") && Named(windows, "SYSTEM")->folder);
        EXPECT_FALSE(drive->List("WINDOWS/WIN.INI", &windows)) << "a file is no folder";
        EXPECT_FALSE(drive->List("NOWHERE", &windows));

        std::string bytes;
        ASSERT_TRUE(drive->Read("WINDOWS/WIN.INI", &bytes));
        EXPECT_EQ(bytes, kOldIni);
        EXPECT_TRUE(drive->Read("windows/win.ini", &bytes)) << "names are found whatever their letter case";
        EXPECT_FALSE(drive->Read("WINDOWS/NONE.INI", &bytes));

        const std::string system_ini = pfmtest::ReadInImage(v.image, v.offset, "WINDOWS/SYSTEM.INI");
        std::string why, text = NewIni(bits == 12 ? 200 : 5000);
        ASSERT_TRUE(drive->Replace("WINDOWS/WIN.INI", text, &why)) << why;
        ASSERT_TRUE(drive->Read("WINDOWS/WIN.INI", &bytes));
        EXPECT_EQ(bytes, text);
        ASSERT_TRUE(drive->List("WINDOWS", &windows));
        EXPECT_FALSE(Named(windows, FatImageDrive::kNewName) || Named(windows, FatImageDrive::kOldName));
        EXPECT_EQ(pfmtest::ReadInImage(v.image, v.offset, "WINDOWS/SYSTEM.INI"), system_ini);
        EXPECT_EQ(pfmtest::FsckProblems(v.image, v.offset, v.size), "");
    }
}

TEST(FatImageDrive, ReplaceKeepsTheNameAndCreatesAMissingFile)
{
    pfmtest::ScratchDir dir;
    Volume v = MakeWindowsDisk(dir, 16);
    // A name in mixed case has a long name, which is kept. (An all
    // lower-case 8.3 name, marked by the case bits that Windows 9x ignores,
    // comes back upper case from mtools' rename.)
    pfmtest::WriteBytes(dir.Path("win.ini"), kOldIni);
    ASSERT_EQ(pfmtest::Mtools("mdel", v.image, v.offset, {"::/WINDOWS/WIN.INI"}), 0);
    ASSERT_EQ(pfmtest::Mtools("mcopy", v.image, v.offset, {dir.Path("win.ini"), "::/WINDOWS/Win.Ini"}), 0);
    auto drive = OpenOrFail(v);
    std::string why;
    ASSERT_TRUE(drive->Replace("WINDOWS/WIN.INI", "[a]\r\n", &why)) << why;
    std::vector<DriveEntry> entries;
    ASSERT_TRUE(drive->List("WINDOWS", &entries));
    EXPECT_TRUE(Named(entries, "Win.Ini"));
    EXPECT_FALSE(Named(entries, "WIN.INI"));
    EXPECT_EQ(pfmtest::FsckProblems(v.image, v.offset, v.size), "");

    ASSERT_EQ(pfmtest::Mtools("mdel", v.image, v.offset, {"::/WINDOWS/Win.Ini"}), 0);
    ASSERT_TRUE(drive->Replace("WINDOWS/WIN.INI", "[b]\r\n", &why)) << why;
    std::string bytes;
    ASSERT_TRUE(drive->Read("WINDOWS/WIN.INI", &bytes));
    EXPECT_EQ(bytes, "[b]\r\n");
    EXPECT_EQ(pfmtest::FsckProblems(v.image, v.offset, v.size), "");
}

// Every refusal: one line, and the image byte for byte as it was.
TEST(FatImageDrive, RefusalsLeaveTheImageAsItWas)
{
    struct Case {
        const char *name;
        std::function<void(const Volume &)> damage;
        const char *says;
        std::string target = "WINDOWS/WIN.INI";
    };
    auto fill = [](const Volume &v) {
        // Fill the volume with one large file, leaving less than the new WIN.INI needs.
        std::string out;
        pfmtest::Mtools("mdir", v.image, v.offset, {"::/"}, &out);
        size_t at = out.find(" bytes free");
        std::string figure;
        for (size_t i = out.rfind('\n', at) + 1; i < at; ++i)
            if (isdigit((unsigned char)out[i])) figure += out[i];
        uint64_t free_bytes = std::stoull(figure);
        pfmtest::ScratchDir tmp;
        pfmtest::WriteBytes(tmp.Path("big"), std::string(free_bytes - 4096, 'x'));
        ASSERT_EQ(pfmtest::Mtools("mcopy", v.image, v.offset, {tmp.Path("big"), "::/BIG.DAT"}, &out), 0) << out;
    };
    auto loop = [](const Volume &v) {
        auto layout = pfmtest::LayoutOf(v.image, v.offset);
        auto clusters = pfmtest::ClustersOf(v.image, v.offset, "WINDOWS/WIN.INI");
        ASSERT_FALSE(clusters.empty());
        pfmtest::SetFatEntry(v.image, layout, clusters.back(), clusters.front());
    };
    auto overclaim = [](const Volume &v) {
        auto layout = pfmtest::LayoutOf(v.image, v.offset);
        auto windows = pfmtest::ClustersOf(v.image, v.offset, "WINDOWS");
        uint64_t entry = pfmtest::EntryOffset(v.image, layout, windows.at(0), "WIN     INI");
        std::string bytes = pfmtest::ReadBytes(v.image);
        bytes.replace(entry + 28, 4, std::string("\x00\x00\x10\x00", 4));  // 1 MiB
        pfmtest::WriteBytes(v.image, bytes);
    };
    std::vector<Case> cases = {
        {"read-only attribute",
         [](const Volume &v) { ASSERT_EQ(pfmtest::Mtools("mattrib", v.image, v.offset, {"+r", "::/WINDOWS/WIN.INI"}), 0); },
         "read-only attribute"},
        {"image without write permission", [](const Volume &v) { chmod(v.image.c_str(), 0444); }, "read-only"},
        {"volume full", fill, "no room"},
        {"looping cluster chain", loop, "loops"},
        {"entry claims more than its chain", overclaim, "claims 1048576 bytes"},
        {"another file", [](const Volume &) {}, "only WIN.INI", "WINDOWS/SYSTEM.INI"},
        {"missing folder", [](const Volume &) {}, "not found", "NOWHERE/WIN.INI"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        pfmtest::ScratchDir dir;
        Volume v = MakeWindowsDisk(dir, 16, NewIni(300));
        c.damage(v);
        const std::string before = pfmtest::ReadBytes(v.image);
        auto drive = OpenOrFail(v);
        ASSERT_TRUE(drive);
        std::string why;
        EXPECT_FALSE(drive->Replace(c.target, NewIni(3000), &why));
        EXPECT_NE(why.find(c.says), std::string::npos) << why;
        EXPECT_EQ(why.find('\n'), std::string::npos) << why;
        EXPECT_TRUE(pfmtest::ReadBytes(v.image) == before) << "the image changed";
        std::string bytes;
        if (std::string(c.name).find("chain") != std::string::npos) {
            EXPECT_FALSE(drive->Read("WINDOWS/WIN.INI", &bytes)) << "a damaged file is not read as if whole";
        }
        chmod(v.image.c_str(), 0644);
    }
}

TEST(FatImageDrive, MissingMtoolsGivesOneLine)
{
    pfmtest::ScratchDir dir;
    Volume v = MakeWindowsDisk(dir, 16);
    std::string saved = std::getenv("PATH");
    setenv("PATH", dir.root.c_str(), 1);
    std::string why;
    auto drive = FatImageDrive::Open(v.image, v.offset, &why);
    setenv("PATH", saved.c_str(), 1);
    EXPECT_FALSE(drive);
    EXPECT_EQ(why, "pfmsetup: reading disk images needs mtools (apt-get install mtools)");
}

TEST(FatImageDrive, ChildTimeLimitStopsAHungTool)
{
    host::ChildResult r = host::RunChild({"sleep", "30"}, {}, std::chrono::milliseconds(200));
    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.timed_out);
    EXPECT_FALSE(r.Ok());
    host::ChildResult cat = host::RunChild({"cat"}, std::string(1 << 20, 'z'), std::chrono::milliseconds(20000));
    EXPECT_TRUE(cat.Ok());
    EXPECT_EQ(cat.out.size(), size_t(1) << 20) << "input and output larger than a pipe's buffer";
}

// Each state of the table in fat_image_drive.h, made by hand, repaired;
// then each again left for Replace, which repairs it from its own listing,
// lists again and replaces.
TEST(FatImageDrive, RepairFinishesOrUndoesEveryState)
{
    const std::string kNew = NewIni(50);
    struct Case {
        bool target, new_file, old_file;
        const char *expect;  // "old", "new", "none"
    } cases[] = {
        {true, false, false, "old"}, {false, false, false, "none"}, {true, true, false, "old"},
        {false, true, false, "none"}, {false, true, true, "new"},   {true, false, true, "new"},
        {false, false, true, "old"}, {true, true, true, "new"},
    };
    const std::string kNewer = NewIni(70);
    for (bool by_replace : {false, true})
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(by_replace ? "Replace: " : "Repair: ") + "WIN.INI " + (c.target ? "yes" : "no") +
                     ", $$N " + (c.new_file ? "yes" : "no") + ", $$O " + (c.old_file ? "yes" : "no"));
        pfmtest::ScratchDir dir;
        Volume v = MakeWindowsDisk(dir, 16);
        pfmtest::WriteBytes(dir.Path("old"), kOldIni);
        pfmtest::WriteBytes(dir.Path("new"), kNew);
        pfmtest::WriteBytes(dir.Path("partial"), kNew.substr(0, 100));
        auto put = [&](const std::string &from, const char *name) {
            ASSERT_EQ(pfmtest::Mtools("mcopy", v.image, v.offset, {dir.Path(from), std::string("::/WINDOWS/") + name}), 0);
        };
        ASSERT_EQ(pfmtest::Mtools("mdel", v.image, v.offset, {"::/WINDOWS/WIN.INI"}), 0);
        // After step 3 WIN.INI is the new file; before step 2 the old one.
        if (c.target) put(c.old_file && !c.new_file ? "new" : "old", "WIN.INI");
        if (c.target && c.old_file && c.new_file) { ASSERT_EQ(pfmtest::Mtools("mdel", v.image, v.offset, {"::/WINDOWS/WIN.INI"}), 0); put("new", "WIN.INI"); }
        if (c.new_file) put(c.old_file ? "new" : "partial", FatImageDrive::kNewName);
        if (c.old_file) put("old", FatImageDrive::kOldName);
        auto drive = OpenOrFail(v);
        std::string why;
        if (by_replace) {
            ASSERT_TRUE(drive->Replace("WINDOWS/WIN.INI", kNewer, &why)) << why;
        } else {
            ASSERT_TRUE(drive->Repair("WINDOWS", &why)) << why;
        }
        std::vector<DriveEntry> entries;
        ASSERT_TRUE(drive->List("WINDOWS", &entries));
        EXPECT_FALSE(Named(entries, FatImageDrive::kNewName) || Named(entries, FatImageDrive::kOldName));
        std::string bytes;
        bool present = drive->Read("WINDOWS/WIN.INI", &bytes);
        if (by_replace) {
            EXPECT_EQ(bytes, kNewer);
        } else if (std::string(c.expect) == "none") {
            EXPECT_FALSE(present);
        } else {
            EXPECT_EQ(bytes, std::string(c.expect) == "new" ? kNew : kOldIni);
        }
        EXPECT_TRUE(Named(entries, "SYSTEM.INI"));
        EXPECT_EQ(pfmtest::FsckProblems(v.image, v.offset, v.size), "");
    }
}

// The one state Repair leaves alone: a WININI.$$N whose entry was
// written and whose FAT entries were not (a kill between mcopy's writes).
// A copy cut off after its folder entry and before its FAT ($$N), and a
// delete cut off after its FAT and before its folder entry ($$O beside the
// new WIN.INI), leave an entry whose clusters are free. Repair deletes that
// entry alone (mdel would follow the free clusters into the FAT), on FAT16
// and FAT32: the volume is then clean and WIN.INI the file it was.
TEST(FatImageDrive, RepairDeletesAnEntryWhoseClustersAreFreeAndWritesNothingElse)
{
    for (int bits : {16, 32}) {
        for (const char *cut : {FatImageDrive::kNewName, FatImageDrive::kOldName}) {
            SCOPED_TRACE(std::string(cut) + " on FAT" + std::to_string(bits));
            pfmtest::ScratchDir dir;
            const bool old_cut = cut == std::string(FatImageDrive::kOldName);
            Volume v = MakeWindowsDisk(dir, bits, old_cut ? NewIni(40) : kOldIni);
            pfmtest::WriteBytes(dir.Path("cut"), NewIni(3000));
            const std::string pristine = pfmtest::ReadBytes(v.image);
            ASSERT_EQ(pfmtest::Mtools("mcopy", v.image, v.offset, {dir.Path("cut"), std::string("::/WINDOWS/") + cut}), 0);
            // The FATs and FSInfo as they were before the copy: the copy's
            // FAT never written, or the delete's written.
            auto layout = pfmtest::LayoutOf(v.image, v.offset);
            std::string before = pfmtest::ReadBytes(v.image);
            before.replace(layout.fat, layout.fats * layout.fat_bytes, pristine, layout.fat, layout.fats * layout.fat_bytes);
            if (bits == 32) before.replace(v.offset + 512, 512, pristine, v.offset + 512, 512);
            pfmtest::WriteBytes(v.image, before);
            const std::string win_ini = pfmtest::ReadInImage(v.image, v.offset, "WINDOWS/WIN.INI");
            auto drive = OpenOrFail(v);
            std::string why;
            ASSERT_TRUE(drive->Repair("WINDOWS", &why)) << why;
            const std::string after = pfmtest::ReadBytes(v.image);
            size_t changed = 0;
            for (size_t i = 0; i < after.size(); ++i) changed += after[i] != before[i];
            EXPECT_EQ(changed, 1u) << "bytes written beside the entry's first";
            std::vector<DriveEntry> entries;
            ASSERT_TRUE(drive->List("WINDOWS", &entries));
            EXPECT_FALSE(Named(entries, cut));
            EXPECT_EQ(pfmtest::ReadInImage(v.image, v.offset, "WINDOWS/WIN.INI"), win_ini);
            EXPECT_EQ(pfmtest::FsckProblems(v.image, v.offset, v.size), "");
        }
    }
}

// Runs Replace in a child process of its own, holding the image lock as
// the program does; returns its pid.
pid_t StartReplace(const Volume &v, const std::string &text, const std::string &path_env = "")
{
    pid_t pid = fork();
    if (pid == 0) {
        if (!path_env.empty()) setenv("PATH", path_env.c_str(), 1);
        std::string why;
        auto lock = host::ImageLock::Acquire(v.image, true, &why);
        auto drive = FatImageDrive::Open(v.image, v.offset, &why);
        bool ok = lock && drive && drive->Repair("WINDOWS", &why) && drive->Replace("WINDOWS/WIN.INI", text, &why);
        _exit(ok ? 0 : 3);
    }
    return pid;
}

// After a kill: the next run's lock (which waits for a tool the killed
// copy left running), Repair, then WIN.INI old or new and a clean volume.
void CheckAfterKill(const Volume &v, const std::string &text, int *olds, int *news)
{
    std::string why;
    auto lock = host::ImageLock::Acquire(v.image, true, &why);
    ASSERT_TRUE(lock) << why;
    auto drive = OpenOrFail(v);
    ASSERT_TRUE(drive->Repair("WINDOWS", &why)) << why;
    std::string bytes;
    ASSERT_TRUE(drive->Read("WINDOWS/WIN.INI", &bytes));
    ASSERT_TRUE(bytes == kOldIni || bytes == text) << "WIN.INI is neither the old file nor the new one ("
                                                    << bytes.size() << " bytes)";
    (bytes == kOldIni ? *olds : *news) += 1;
    ASSERT_EQ(pfmtest::ReadInImage(v.image, v.offset, "WINDOWS/SYSTEM.INI"), "[boot]\r\nshell=Explorer.exe\r\n");
    ASSERT_EQ(pfmtest::FsckProblems(v.image, v.offset, v.size), "");
    // Back to the old file for the next round.
    if (bytes != kOldIni) {
        ASSERT_TRUE(drive->Replace("WINDOWS/WIN.INI", kOldIni, &why)) << why;
    }
}

// Killed just before and just after each mtools child it starts.
TEST(FatImageDrive, KillAtEveryStepOfReplace)
{
    pfmtest::ScratchDir dir;
    Volume v = MakeWindowsDisk(dir, 16);
    const std::string text = NewIni(2000);
    std::string bin = dir.Path("bin");
    std::filesystem::create_directory(bin);
    for (const char *tool : {"mcopy", "mren", "mdel", "mdir", "mattrib", "mshowfat", "minfo"}) {
        std::string script =
            "#!/bin/sh\n"
            "n=$(($(cat \"$KILL_COUNTER\") + 1)); echo $n > \"$KILL_COUNTER\"\n"
            "if [ $n = \"$KILL_AT\" ] && [ \"$KILL_WHEN\" = before ]; then kill -9 $PPID; exit 1; fi\n"
            "/usr/bin/" + std::string(tool) + " \"$@\"; rc=$?\n"
            "if [ $n = \"$KILL_AT\" ]; then kill -9 $PPID; fi\n"
            "exit $rc\n";
        pfmtest::WriteBytes(bin + "/" + tool, script);
        chmod((bin + "/" + tool).c_str(), 0755);
    }
    std::string counter = dir.Path("counter");
    setenv("KILL_COUNTER", counter.c_str(), 1);
    std::string path_env = bin + ":" + std::getenv("PATH");
    int olds = 0, news = 0, kills = 0;
    for (int at = 1; at < 40; ++at) {
        for (const char *when : {"before", "after"}) {
            SCOPED_TRACE(std::string("killed ") + when + " child " + std::to_string(at));
            pfmtest::WriteBytes(counter, "0");
            setenv("KILL_AT", std::to_string(at).c_str(), 1);
            setenv("KILL_WHEN", when, 1);
            pid_t pid = StartReplace(v, text, path_env);
            int status = 0;
            waitpid(pid, &status, 0);
            setenv("KILL_AT", "0", 1);
            if (!WIFSIGNALED(status)) {
                // The run finished before child `at`: every point has been tried.
                ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
                at = 1000;
            } else {
                ++kills;
            }
            CheckAfterKill(v, text, &olds, &news);
            if (HasFatalFailure()) return;
        }
    }
    std::printf("%d kills at mtools children: %d left the old WIN.INI, %d the new one\n", kills, olds, news);
    EXPECT_GT(olds, 0);
    EXPECT_GT(news, 0);
    unsetenv("KILL_COUNTER");
}

// Killed at many moments of a replacement of a large WIN.INI, the mtools
// child then running on alone.
TEST(FatImageDrive, KillAtManyMomentsOfReplace)
{
    pfmtest::ScratchDir dir;
    Volume v = MakeWindowsDisk(dir, 32);
    const std::string text = NewIni(60000);  // about 2 MB
    auto start = std::chrono::steady_clock::now();
    int status = 0;
    waitpid(StartReplace(v, text), &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    auto whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    int olds = 0, news = 0;
    CheckAfterKill(v, text, &olds, &news);
    const int kRounds = 40;
    for (int k = 0; k < kRounds; ++k) {
        auto delay = whole * k / kRounds;
        SCOPED_TRACE("killed after " + std::to_string(delay.count()) + " us");
        pid_t pid = StartReplace(v, text);
        std::this_thread::sleep_for(delay);
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        CheckAfterKill(v, text, &olds, &news);
        if (HasFatalFailure()) return;
    }
    std::printf("%d timed kills over %lld us: %d left the old WIN.INI, %d the new one\n", kRounds,
                (long long)whole.count(), olds, news);
}

}  // namespace

// The image lock: two copies of the program take turns, and the program
// and a running QEMU keep off each other's image.
#include "image_maker.h"
#include "platform/host/disk_image/image_lock.h"
#include "platform/host/disk_image/mtools_runner.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace {

using host::ImageLock;

// The lines of /proc/locks about `path`.
std::vector<std::string> LocksOn(const std::string &path)
{
    struct stat st;
    std::vector<std::string> lines;
    if (stat(path.c_str(), &st) != 0) return lines;
    std::string inode = ":" + std::to_string(st.st_ino) + " ";
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);)
        if (line.find(inode) != std::string::npos) lines.push_back(line);
    return lines;
}

void WaitFor(const std::function<bool()> &done)
{
    for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

TEST(ImageLock, SecondCopyWaitsForTheFirst)
{
    pfmtest::ScratchDir dir;
    std::string image = dir.Path("disk.img"), log = dir.Path("log");
    pfmtest::WriteBytes(image, std::string(1 << 16, '\0'));
    pid_t first = fork();
    if (first == 0) {
        std::string why;
        auto lock = ImageLock::Acquire(image, true, &why);
        if (!lock) _exit(2);
        pfmtest::WriteBytes(log, "first holds\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        pfmtest::WriteBytes(log, "first holds\nfirst done\n");
        _exit(0);
    }
    WaitFor([&] { return !pfmtest::ReadBytes(log).empty(); });
    std::string why;
    auto second = ImageLock::Acquire(image, true, &why);
    ASSERT_TRUE(second) << why;
    EXPECT_EQ(pfmtest::ReadBytes(log), "first holds\nfirst done\n") << "the second copy did not wait";
    int status = 0;
    waitpid(first, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(ImageLock, AChildToolKeepsTheImageAfterTheProgramDies)
{
    pfmtest::ScratchDir dir;
    std::string image = dir.Path("disk.img");
    pfmtest::WriteBytes(image, std::string(1 << 16, '\0'));
    pid_t program = fork();
    if (program == 0) {
        std::string why;
        auto lock = ImageLock::Acquire(image, true, &why);
        host::RunChild({"sh", "-c", "echo started > " + dir.Path("tool") + "; sleep 0.5; echo done > " + dir.Path("tool")},
                       {}, std::chrono::milliseconds(10000));
        _exit(0);
    }
    WaitFor([&] { return !pfmtest::ReadBytes(dir.Path("tool")).empty(); });
    kill(program, SIGKILL);
    waitpid(program, nullptr, 0);
    std::string why;
    auto next = ImageLock::Acquire(image, true, &why);
    ASSERT_TRUE(next) << why;
    EXPECT_EQ(pfmtest::ReadBytes(dir.Path("tool")), "done\n") << "the next copy went in while the tool was writing";
}

bool HaveQemu()
{
    return host::RunChild({"qemu-system-i386", "--version"}, {}, std::chrono::milliseconds(20000)).Ok();
}

std::vector<std::string> QemuArgv(const std::string &image)
{
    return {"qemu-system-i386", "-S", "-nographic", "-display", "none", "-monitor", "none", "-serial", "none",
            "-nodefaults", "-drive", "file=" + image + ",format=raw,if=ide"};
}

TEST(ImageLock, QemuRefusesAnImageTheProgramHolds)
{
    if (!HaveQemu()) GTEST_SKIP() << "qemu-system-i386 is not installed (scripts/install-deps.sh image-tests)";
    pfmtest::ScratchDir dir;
    std::string image = dir.Path("disk.img");
    pfmtest::MakeVolume(image, 1440, 12);
    for (bool write : {true, false}) {
        SCOPED_TRACE(write ? "the program writing" : "the program reading");
        std::string why;
        auto lock = ImageLock::Acquire(image, write, &why);
        ASSERT_TRUE(lock) << why;
        for (const std::string &line : LocksOn(image)) std::printf("  program: %s\n", line.c_str());
        host::ChildResult qemu = host::RunChild(QemuArgv(image), {}, std::chrono::milliseconds(20000));
        EXPECT_FALSE(qemu.timed_out) << "QEMU started on the image";
        EXPECT_NE(qemu.err.find("Failed to get"), std::string::npos) << qemu.err;
    }
}

TEST(ImageLock, ProgramRefusesAnImageQemuHolds)
{
    if (!HaveQemu()) GTEST_SKIP() << "qemu-system-i386 is not installed (scripts/install-deps.sh image-tests)";
    pfmtest::ScratchDir dir;
    std::string image = dir.Path("disk.img");
    pfmtest::MakeVolume(image, 1440, 12);
    const std::string before = pfmtest::ReadBytes(image);
    pid_t qemu = fork();
    if (qemu == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0), dup2(null, 1), dup2(null, 2);
        std::vector<std::string> argv = QemuArgv(image);
        std::vector<char *> args;
        for (std::string &a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    WaitFor([&] { return LocksOn(image).size() >= 2; });
    std::vector<std::string> held = LocksOn(image);
    for (const std::string &line : held) std::printf("  QEMU: %s\n", line.c_str());
    ASSERT_FALSE(held.empty()) << "QEMU took no lock";
    for (bool write : {true, false}) {
        std::string why;
        EXPECT_FALSE(ImageLock::Acquire(image, write, &why)) << (write ? "writer" : "reader");
        EXPECT_EQ(why.rfind("the image is in use", 0), 0u) << why;
    }
    kill(qemu, SIGKILL);
    waitpid(qemu, nullptr, 0);
    EXPECT_TRUE(pfmtest::ReadBytes(image) == before);
    std::string why;
    EXPECT_TRUE(ImageLock::Acquire(image, true, &why)) << "QEMU gone, the image is free: " << why;
}

}  // namespace

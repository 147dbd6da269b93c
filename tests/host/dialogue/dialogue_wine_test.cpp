// The host's message box against the platform's own, with Wine as the
// reference: a small Windows program shows a box, the test presses a key
// in it on a virtual display, and the result must equal what the host's
// box returns for the corresponding input.
//
// Needs i686-w64-mingw32-gcc, wine, xvfb-run and xdotool; skipped without
// them. It makes its own Windows 98 prefix, which takes a little while.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

bool Have(const char *tool)
{
    std::string command = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::string RunAndRead(const std::string &command)
{
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buf[512];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

const char kProbeSource[] = R"(#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
int main(int argc, char **argv)
{
    UINT style = argc > 1 ? (UINT)strtoul(argv[1], NULL, 0) : 0;
    int r = MessageBoxA(NULL, "probe text", "Dialogue Probe", style);
    printf("result %d\n", r);
    fflush(stdout);
    return 0;
}
)";

// Shows the probe's box with `style`, presses `key` in it and prints the
// box's result.
const char kPressScript[] = R"SH(#!/bin/sh
cd "$(dirname "$0")"
wine ./probe.exe "$1" > "out-$1-$2.txt" 2>/dev/null &
W=$(xdotool search --sync --onlyvisible --name "Dialogue Probe" | head -1)
# The box takes keys once it has drawn itself and holds the focus.
sleep 1
xdotool key --window "$W" "$2"
wait
cat "out-$1-$2.txt"
)SH";

class WineReference : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!Have("i686-w64-mingw32-gcc") || !Have("wine") || !Have("xvfb-run") || !Have("xdotool")) return;
        // Installed is not enough: a kernel without 32-bit emulation runs no wine.
        if (std::system("wine --version >/dev/null 2>&1") != 0) return;
        char pattern[] = "/tmp/pfm-dialogue-wine-XXXXXX";
        if (!mkdtemp(pattern)) return;
        dir_ = pattern;
        std::ofstream(dir_ + "/probe.c") << kProbeSource;
        std::ofstream(dir_ + "/press.sh") << kPressScript;
        std::string env = "cd " + dir_ + " && export WINEPREFIX=" + dir_ + "/pfx WINEARCH=win32 WINEDEBUG=-all && ";
        ready_ = std::system((env + "chmod +x press.sh && i686-w64-mingw32-gcc -O2 -o probe.exe probe.c"
                              " && wineboot -i >/dev/null 2>&1 && wine winecfg -v win98 >/dev/null 2>&1"
                              " && wineserver -w").c_str()) == 0;
    }

    static void TearDownTestSuite()
    {
        if (dir_.empty()) return;
        std::system(("WINEPREFIX=" + dir_ + "/pfx wineserver -k >/dev/null 2>&1; rm -rf " + dir_).c_str());
    }

    void SetUp() override
    {
        if (dir_.empty()) GTEST_SKIP() << "needs i686-w64-mingw32-gcc, a wine that runs here, xvfb-run and xdotool";
        ASSERT_TRUE(ready_) << "the probe or its prefix could not be made in " << dir_;
    }

    // The result of the platform's box with `style` when `key` is pressed.
    static int PlatformResult(UINT style, const char *key)
    {
        std::string out = RunAndRead("export WINEPREFIX=" + dir_ + "/pfx WINEARCH=win32 WINEDEBUG=-all && "
                                     "timeout 60 xvfb-run -a " + dir_ + "/press.sh " + std::to_string(style) +
                                     " " + key + " 2>/dev/null");
        size_t at = out.find("result ");
        return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 7);
    }

    // The result of the host's box with `style` given `input`.
    static int HostResult(UINT style, const std::string &input)
    {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return -1;
        pid_t pid = fork();
        if (pid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[0]); close(in[1]); close(out[0]); close(out[1]);
            setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
            _exit(MessageBoxA(nullptr, "probe text", "Dialogue Probe", style));
        }
        close(in[0]);
        close(out[1]);
        if (write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) return -1;
        close(in[1]);
        char buf[512];
        while (read(out[0], buf, sizeof buf) > 0) {
        }
        close(out[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    static std::string dir_;
    static bool ready_;
};

std::string WineReference::dir_;
bool WineReference::ready_ = false;

// Closing a box (Escape on the platform, the end of input on the host)
// returns IDCANCEL, for a box with a Cancel button and for an OK-only box.
TEST_F(WineReference, ClosingABoxReturnsWhatThePlatformReturns)
{
    for (UINT style : {MB_OK, MB_OKCANCEL, MB_OK | MB_ICONEXCLAMATION, MB_OKCANCEL | MB_ICONINFORMATION}) {
        SCOPED_TRACE("style " + std::to_string(style));
        int platform = PlatformResult(style, "Escape");
        ASSERT_NE(platform, -1) << "the probe gave no result";
        EXPECT_EQ(HostResult(style, ""), platform);
    }
}

// The default button (Return on the platform, an empty line on the host).
TEST_F(WineReference, DefaultButtonReturnsWhatThePlatformReturns)
{
    for (UINT style : {MB_OK, MB_OKCANCEL}) {
        SCOPED_TRACE("style " + std::to_string(style));
        int platform = PlatformResult(style, "Return");
        ASSERT_NE(platform, -1) << "the probe gave no result";
        EXPECT_EQ(HostResult(style, "\n"), platform);
    }
}

}  // namespace

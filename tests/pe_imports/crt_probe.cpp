// An ordinary MinGW program, built with the usual start-up code and C++
// runtime: the kind of image the allowlist check must reject. It has a
// static constructor and a string resource, and calls the C library.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

struct Greeting {
    char text[32];
    Greeting() { std::strcpy(text, "probe"); }
};

Greeting greeting;

}  // namespace

int main(int argc, char **)
{
    std::printf("%s %d\n", greeting.text, argc);
    return static_cast<int>(GetTickCount() & 1);
}

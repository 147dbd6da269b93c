// What a host operation does when memory runs out inside it.
//
// The host layer is C++ and allocates (parsed files, the pending copy of
// win.ini, the texts of boxes); an allocation that fails throws
// std::bad_alloc. The program's logic calls the host as it calls Win32, a
// C interface: nothing may be thrown through it. So every host operation
// that allocates runs its body through AnswerOnOutOfMemory, which answers
// the operation's documented failure result instead (FALSE, 0, NULL, an
// error code), as the platform does when it has no memory for a call.
//
// A run that could not hold some of its data must not leave win.ini with
// part of it: once memory has run out in any operation, the pending copy
// of win.ini is dropped at once (which also gives its memory back for the
// failure report), every later write is refused and the next flush fails,
// writing nothing. The flush ends that state; writes after it start afresh.
//
// The operations that never allocate (lstrcpyA, lstrlenA, wsprintfA and the
// like, SendMessageTimeoutA) need no guard.
#ifndef PFMSETUP_PLATFORM_HOST_INSTALLATION_OUT_OF_MEMORY_H
#define PFMSETUP_PLATFORM_HOST_INSTALLATION_OUT_OF_MEMORY_H

#include <new>
#include <type_traits>

namespace host {

// Drops the pending copy of win.ini and refuses the writes of the run until
// its flush (see above).
void MemoryRanOut() noexcept;

// The result of `body`, or `failure` (a value, or a routine that makes it:
// one that also empties the caller's buffer) when memory runs out in it.
template <typename Failure, typename Body>
auto AnswerOnOutOfMemory(Failure failure, Body &&body) noexcept -> decltype(body())
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        MemoryRanOut();
        if constexpr (std::is_invocable_v<Failure>) {
            return failure();
        } else {
            return failure;
        }
    }
}

}  // namespace host

#endif

// The signals that end the program from outside (Ctrl-C, a terminal that
// closes, kill, Ctrl-\), held back while a file is being replaced: one that
// arrives meanwhile takes effect as soon as the replacement is whole, when
// the previous signal mask comes back. SIGKILL cannot be held; what it
// leaves is repaired by the next run.
#ifndef PFMSETUP_PLATFORM_HOST_HELD_SIGNALS_H
#define PFMSETUP_PLATFORM_HOST_HELD_SIGNALS_H

#include <signal.h>

namespace host {

class EndingSignalsHeld {
public:
    EndingSignalsHeld()
    {
        sigset_t ending;
        sigemptyset(&ending);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&ending, signal);
        sigprocmask(SIG_BLOCK, &ending, &previous_);
    }
    // A signal that came meanwhile is delivered here, before this returns.
    ~EndingSignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    EndingSignalsHeld(const EndingSignalsHeld &) = delete;
    EndingSignalsHeld &operator=(const EndingSignalsHeld &) = delete;

private:
    sigset_t previous_;
};

}  // namespace host

#endif

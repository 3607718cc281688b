#include "control_handler.h"

#include "progress.h"
#include "prompt.h"
#include "run_settings.h"

#include <cstdlib>

namespace {

// After a closed console or a shutdown the platform ends the process as
// soon as the handler returns, or about five seconds on.
constexpr DWORD grace_period_ms = 4500;

// Moves settings.stop_state on for one stop in one compare-and-swap: a
// first stop is requested, any other ends the run. Returns the state the
// stop found.
LONG take_stop()
{
    for (;;) {
        const LONG found = settings.stop_state;
        const LONG next = found == run_going ? stop_requested : run_ending;
        if (InterlockedCompareExchange(&settings.stop_state, next, found) == found) {
            return found;
        }
    }
}

} // namespace

void install_control_handler()
{
    SetConsoleCtrlHandler(stop_run_on_control_event, TRUE);
}

BOOL WINAPI stop_run_on_control_event(DWORD event)
{
    // The platform sends a logoff to the console programs of services too
    // (a scheduled task running as SYSTEM) whenever any user logs off; an
    // interactive program is ended by its own user's logoff anyway. So it
    // tells the run nothing.
    if (event == CTRL_LOGOFF_EVENT) {
        return TRUE;
    }
    switch (take_stop()) {
    case question_waiting:
        // The run waits for a key and cannot stop by itself; the prompt
        // saw the state change and will not act.
        std::exit(interrupted_exit_code());
    case stop_requested:
        // A second stop: the user will not wait for a copy that the
        // platform does not cancel (a dead share, or Wine, which ignores the
        // cancel flag). Whatever the copy has written stands under the
        // staging name, never under the file's own. A figure of its
        // progress is taken off the screen first.
        end_copy_progress();
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(interrupted_exit_code()));
        return TRUE;
    case run_ending:
        return TRUE;
    default:
        break;
    }
    if (event == CTRL_CLOSE_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // A grace, not a wait for anything: meanwhile the run finishes the
        // file in hand and exits with its own exit code and counts, which
        // ends the process before the platform does.
        Sleep(grace_period_ms);
    }
    return TRUE;
}

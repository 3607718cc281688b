#include "control_handler.h"

#include "prompt.h"
#include "run_settings.h"

#include <cstdlib>

namespace {

// The thread that runs the files; its end (the exit of the process, with
// the run's exit code) is what a closed console waits for.
HANDLE run_thread = nullptr;

// After a closed console or a shutdown the platform ends the process
// about five seconds on, or as soon as the handler returns.
constexpr DWORD grace_period_ms = 4500;

} // namespace

void install_control_handler()
{
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &run_thread,
                    SYNCHRONIZE, FALSE, 0);
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
    settings.interrupted = TRUE;
    // The prompt sets its flag and then reads this one: one of the two
    // sides sees the other's.
    MemoryBarrier();
    if (settings.question_waiting) {
        // The run waits for a key and cannot stop by itself.
        std::exit(interrupted_exit_code());
    }
    if (event == CTRL_CLOSE_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        WaitForSingleObject(run_thread, grace_period_ms);
    }
    return TRUE;
}

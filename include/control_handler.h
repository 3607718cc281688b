// The console control handler of the whole run: Ctrl+C, Ctrl+Break, a
// closed console, a logoff and a shutdown.
#pragma once

#include <windows.h>

// Installs stop_run_on_control_event for the rest of the process; the
// calling thread is the one that runs the files.
void install_control_handler();

// At a question (settings.question_waiting) Ctrl+C, Ctrl+Break and a
// closed console end the process with the run's exit code so far, at
// least 1. Elsewhere they set settings.interrupted: a copy under way is
// cancelled and the run stops before it changes the next file, writes its
// counts and exits. A closed console and a shutdown then wait, within the
// platform's grace period, for the run's thread to end. A logoff changes
// nothing. Always TRUE: handled.
BOOL WINAPI stop_run_on_control_event(DWORD event);

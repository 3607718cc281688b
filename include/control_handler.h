// The console control handler of the whole run: Ctrl+C, Ctrl+Break, a
// closed console, a logoff and a shutdown.
#pragma once

#include <windows.h>

// Installs stop_run_on_control_event for the rest of the process.
void install_control_handler();

// A first Ctrl+C, Ctrl+Break or closed console asks the run to stop: a
// copy under way is cancelled where the platform can, and the run stops
// before it changes the next file, writes its counts and exits. A second
// one, or one at a question, ends the process at once with the run's exit
// code so far, at least 1. A closed console and a shutdown then leave the
// run the platform's grace period. A logoff changes nothing. Always TRUE:
// handled.
BOOL WINAPI stop_run_on_control_event(DWORD event);

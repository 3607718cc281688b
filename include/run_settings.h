// The one process-wide record of the run: option flags, console handles,
// language, folders, time tolerance and counters. Every part of the tool
// reads it; it is zero at load and never reset.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct RunSettings {
    // Option flags (set while the command line is read; an All answer
    // later inverts no_overwrite_prompt or prompt_new).
    bool no_attributes;          // /a
    bool keep_create_time;       // /c
    bool existing_only;          // /e
    bool no_overwrite_prompt;    // /f, implied by /q
    bool include_hidden_system;  // /h
    bool count_only;             // /l
    bool move;                   // /m, /mr
    bool move_read_only;         // /mr
    bool prompt_new;             // /p
    bool quiet;                  // /q, implied by /l
    bool overwrite_read_only;    // /r
    bool show_destination;       // /t
    bool newer_only;             // /u
    bool verbose;                // /v

    // Console and language, fixed at start. A null handle means the
    // stream is redirected to a file or pipe.
    HANDLE stdout_console;
    HANDLE stderr_console;
    std::uint32_t cursor_size;
    std::int32_t language;       // Language index: 0 Japanese, 1 English
    std::int32_t utf8_console;   // 65001 or 0 (the ANSI code page)

    // The run: full folder paths ending in a backslash, and what the
    // engine counts.
    std::wstring source_dir;
    std::wstring dest_dir;
    std::int32_t time_tolerance;
    std::int32_t new_count;
    std::int32_t overwrite_count;
    // Where the run stands for Ctrl+C, Ctrl+Break and a closed console: a
    // StopState, changed only by compare-and-swap, so that the prompt and
    // the console's control-handler thread never both act. Any value but
    // run_going cancels the platform's copy in progress (it is the copy's
    // cancel flag; no copy runs while a question waits).
    volatile LONG stop_state;
    // The destination folder refused a new file for want of the right to
    // make one: later copies there go straight to their names at once.
    bool dest_refuses_new_files;
    // The exit code the run has earned so far (the highest of the files'
    // outcomes), kept by the run driver; a Ctrl+C at a question ends the
    // process with it.
    std::int32_t exit_code;
};

// The values of settings.stop_state.
enum StopState : LONG {
    run_going = 0,         // nothing asked the run to stop
    stop_requested = 1,    // a first stop: the file in hand ends, no other starts
    question_waiting = 2,  // the prompt waits for a key; a stop ends the process
    run_ending = 3,        // one side is ending the process; the other waits
};

extern RunSettings settings;

// True once a stop was asked for: no further file is started.
inline bool run_stopping()
{
    return settings.stop_state == stop_requested || settings.stop_state == run_ending;
}

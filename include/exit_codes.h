// The exit codes of a run, as batch scripts test them with "if errorlevel";
// when several apply, the highest wins.
#pragma once

// Every file handled was copied or moved; also /?, /ver and /void.
constexpr int exit_all_done = 0;
// Nothing went wrong, but not every file was copied or moved: a /u or /e
// skip, a No typed at a question, Ctrl+C, Ctrl+Break or a closed console
// at any moment of the run, or a pattern or folder that exists but matched
// no file. A /u run with nothing to do ends here.
constexpr int exit_not_all_done = 1;
// The run ended with its message before any file was handled, touching
// nothing: an option, a name that cannot be used, a missing folder or
// file, or a copy onto the same folder or file; so also when a pattern
// that matched nothing (its message written first) comes with one of them.
constexpr int exit_not_started = 2;
// At least one file was refused or failed: a message was written for it
// (also when a question about it could not be asked), or a single named
// source is hidden or system; or the source folder could not be listed,
// at the start or part-way.
constexpr int exit_file_refused = 3;

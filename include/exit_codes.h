// The exit codes of a run, as batch scripts test them with "if errorlevel".
#pragma once

// Every file handled was copied or moved; also /?, /ver and /void.
constexpr int exit_all_done = 0;
// At least one file was not copied or moved (an error, a refusal, a skip,
// a No), or Ctrl+C cut the run short.
constexpr int exit_not_all_done = 1;
// The run ended with its message before any file was handled, touching
// nothing; kept apart from 1 because a /u run that had nothing to do
// exits 1.
constexpr int exit_not_started = 2;

// The run: reads the command line, prepares the two folders and hands the
// engine each file; gives the exit code.
#pragma once

#include "command_line.h"

#include <cstdint>
#include <string>

// Reads the arguments (after the program path) and runs. Returns the exit
// code of exit_codes.h: the highest that applies.
int run_command_line(int count, wchar_t* const* args);

// Prepares the folders and copies or moves the files the arguments name;
// returns the exit code as above.
int run_files(RunArguments& run);

// The long form of an existing path with each component as stored and
// the drive letter upper-cased; `path` itself when that cannot be had.
std::wstring normalize_path(const std::wstring& path);

// The decimal text of a count.
std::wstring format_count(std::int32_t count);

// The root of the volume that holds the folder path, as the platform
// gives it; when it cannot, by the text: the drive root, or the server and
// share of a network path (also in its \\?\UNC\ form).
std::wstring volume_root(const std::wstring& folder);

// Removes one backslash of the last doubled pair, unless that pair opens
// a network path.
void collapse_doubled_backslash(std::wstring& folder);

// The per-file report line on standard output.
#pragma once

#include "copy_engine.h"

#include <string>

// The label for /v over an existing file: "Overwrite", "Update" or
// "Downdate", from the two last-write times and the tolerance.
const wchar_t* time_word(std::uint64_t source_seconds, std::uint64_t dest_seconds,
                         std::int32_t tolerance);

// The text of the line, without its line end.
std::wstring build_report_line(const FileJob& job);

// Writes the line without its line end (nothing under quiet).
void begin_report_line(const FileJob& job);

// Ends the line after a successful action (nothing under quiet), with the
// console cursor hidden meanwhile.
void end_report_line();

// Completes the line with " ###Error###", or under quiet writes the
// destination path with the copy error message.
void report_action_failure(const FileJob& job);

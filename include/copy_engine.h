// The file operation engine: one source file, one destination name.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The values of one call of copy_one_file, handed from the decision to
// the action stage and the report line.
struct FileJob {
    std::wstring source_file;   // name inside settings.source_dir
    std::wstring dest_file;     // name inside settings.dest_dir
    std::wstring source_path;
    std::wstring dest_path;
    DWORD source_attributes = 0;
    DWORD dest_attributes = 0;
    FILETIME source_creation_time{};
    std::uint64_t source_seconds = 0;   // last-write time in whole seconds
    std::uint64_t dest_seconds = 0;
    bool overwriting = false;           // the destination existed
};

// Copies or moves settings.source_dir + source_file to settings.dest_dir +
// dest_file as the options ask. True only when the file was copied or
// moved and every step after that succeeded; false for every refusal,
// error and skip.
bool copy_one_file(const std::wstring& source_file, const std::wstring& dest_file);

// The action stage of a decided file: report line, copy or move, name
// case, creation time, attributes, count. Returns the call's result.
bool run_action_stage(const FileJob& job);

// The console control handler installed while a copy or move runs:
// Ctrl+C, Ctrl+Break or closing the console asks the platform to cancel
// the copy (it then removes what it wrote), and the run ends after it.
BOOL WINAPI cancel_action_on_control_event(DWORD event);

// True when two last-write times, in whole seconds, differ by no more
// than `tolerance` seconds.
bool times_within_tolerance(std::uint64_t source_seconds, std::uint64_t dest_seconds,
                            std::int32_t tolerance);

// True when /u lets the file pass: the source is newer by more than
// `tolerance` whole seconds.
bool source_is_newer(std::uint64_t source_seconds, std::uint64_t dest_seconds,
                     std::int32_t tolerance);

// Whole seconds of a file time (100-nanosecond units, remainder dropped).
std::uint64_t whole_seconds(const FILETIME& time);

constexpr std::size_t staging_name_length = 27;

// The name in the destination folder under which a new file is copied
// before it takes `dest_file`: "~tolvi-", 16 hex digits of a hash of the
// upper-cased name, ".tmp"; the same for names equal ignoring case.
std::wstring staging_name(const std::wstring& dest_file);

// True when the stored name `found_name` must be renamed to take the
// letter case of `dest_file`.
bool stored_name_case_differs(const std::wstring& found_name, const std::wstring& dest_file);

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
    std::wstring source_path;   // as messages show it
    std::wstring dest_path;
    std::wstring source_platform_path;  // as platform calls take it (platform_path)
    std::wstring dest_platform_path;
    DWORD source_attributes = 0;
    DWORD dest_attributes = 0;
    FILETIME source_creation_time{};
    std::uint64_t source_seconds = 0;   // last-write time in whole seconds
    std::uint64_t dest_seconds = 0;
    bool overwriting = false;           // the destination existed
};

// What became of one file.
enum class FileOutcome {
    done,        // copied or moved, and every step after that succeeded
    not_needed,  // left alone by choice: a /u or /e skip, a No, Ctrl+C
    refused,     // a message was written for it
};

// Copies or moves settings.source_dir + source_file to settings.dest_dir +
// dest_file as the options ask, and tells what became of the file.
FileOutcome copy_one_file(const std::wstring& source_file, const std::wstring& dest_file);

// The source's checks after its attributes, on its bits in `job`
// (as the platform reports them by path: for a symbolic link, the link's
// own): the refusals under /m, then the open for its times, read into
// `source`. Writes the refusal; true when the source may be used.
bool source_may_be_used(FileJob& job, FILE_BASIC_INFO& source);

// The overwrite branch, on the destination's attribute bits in `job`:
// every rule that may refuse or skip it, then its preparation (read-only
// cleared, deleted before a move). True when the file goes ahead.
bool may_overwrite(FileJob& job, const FILE_BASIC_INFO& source);

// Identity of a file on its volume; two paths with equal identities reach
// the same file (letter case, short names, links and other routes).
struct FileIdentity {
    DWORD volume_serial = 0;
    DWORD index_high = 0;
    DWORD index_low = 0;
    bool known = false;
};

// The identity in what the platform reports for an open file.
FileIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& info);

// The identity of the file `path` reaches (following links); not known
// when it cannot be opened. The query asks the volume for its serial
// number, which is slow on some systems.
FileIdentity identity_at(const std::wstring& path);

// True when both identities are known and name one file.
bool same_file(const FileIdentity& a, const FileIdentity& b);

// Deletes `dest_path` while `source_path` is held open without delete
// sharing, so that a destination that is the source by any route cannot
// be deleted; the source is released on return. True when the
// destination was deleted.
bool delete_holding_source(const std::wstring& source_path, const std::wstring& dest_path);

// The action stage of a decided file: report line, copy or move, name
// case, creation time, attributes, count. Returns the call's outcome.
FileOutcome run_action_stage(const FileJob& job);

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

// True when the action puts the file over an old copy at the destination
// (a move has deleted it before).
bool replaces_old_copy(const FileJob& job);

// Copies the source to the destination's staging name and gives it the
// real name only once complete: a new file by a rename that never
// replaces, an old copy by the platform's replace. False when it failed;
// the real name is then as it was.
bool copy_staged(const FileJob& job);

constexpr std::size_t staging_name_length = 27;

// The name in the destination folder under which a file is copied before
// it takes `dest_file`: "~tolvi-", 16 hex digits of a hash of the
// upper-cased name, ".tmp"; the same for names equal ignoring case.
std::wstring staging_name(const std::wstring& dest_file);

// True when `name` has the form of a staging name, ignoring letter case
// (as the platform does, for which such a name is the staging name).
bool is_staging_name(const std::wstring& name);

// True when the stored name `found_name` must be renamed to take the
// letter case of `dest_file`.
bool stored_name_case_differs(const std::wstring& found_name, const std::wstring& dest_file);

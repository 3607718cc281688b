// The file operation engine: one source file, one destination name.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

constexpr DWORD hidden_or_system = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// Opening a file only to look at it never stands in another program's way.
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

// Opens `path` with FILE_READ_ATTRIBUTES only, sharing everything, with
// `flags` (FILE_FLAG_BACKUP_SEMANTICS for a folder, and
// FILE_FLAG_OPEN_REPARSE_POINT for a link itself), and reads what the
// platform reports of it; false, and `info` zero, when it cannot.
bool look_at(const std::wstring& path, DWORD flags, BY_HANDLE_FILE_INFORMATION& info);

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

// A line written after a file's own report, about what its staging left.
enum class StagingNote {
    none,
    read_only_kept,       // the old copy's read-only bit could not be cleared
    leftover_in_the_way,  // a staging file that is not this run's to remove
    new_copy_in_staging,  // the name is empty; the new copy is the staging file
    old_copy_renamed,     // the platform left the old copy under a name of its own
};

// How a copy to the destination ended.
struct StagedCopy {
    bool placed = false;    // the complete copy stands under the real name
    bool stopped = false;   // Ctrl+C cancelled it: the file is left by choice
    StagingNote note = StagingNote::none;
};

// Copies the source to the destination's staging name and gives it the
// real name only once complete: a new file by a rename that never
// replaces, an old copy by the platform's replace. Unless placed, the real
// name is as it was, or (named by the note) holds nothing.
StagedCopy copy_staged(const FileJob& job);

// What follows a replace of the old copy by `staging` that failed with
// `error` after its brief holds were waited out.
StagedCopy after_failed_replace(const FileJob& job, const std::wstring& staging, DWORD error);

// What stands under a staging name that the copy found taken.
enum class Leftover {
    ours,        // a plain file in the destination folder: a killed run's
    the_source,  // the file being copied, reached by another route or name
    not_ours,    // a folder, a link, or what cannot be looked at: left alone
};

// Judges a leftover from what its handle reports (`info`, opened as
// itself), whether it is the source, the path the platform gives for it
// and the path of the staging entry (either empty where the platform
// gives none).
Leftover judge_leftover(const BY_HANDLE_FILE_INFORMATION& info, bool is_source,
                        const std::wstring& final_path, const std::wstring& entry_path);

// The staging name is "~tolvi-", 16 hex digits, ".tmp".
constexpr std::size_t staging_prefix_length = 7;
constexpr std::size_t staging_hash_digits = 16;
constexpr std::size_t staging_name_length = staging_prefix_length + staging_hash_digits + 4;

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

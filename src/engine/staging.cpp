#include "copy_engine.h"

#include "path_text.h"
#include "progress.h"
#include "run_settings.h"
#include "scoped_handles.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <vector>

namespace {

// The platform's copy; Ctrl+C cancels it (the run's stop state is its
// cancel flag), and the platform then removes what it had written.
bool copy_file(const std::wstring& from, const std::wstring& to, DWORD flags)
{
    // At a console a long copy shows how far it has got after the report
    // line; the figure is gone again, and the copy's last error kept, when
    // this returns.
    ReportedBytes* const progress = begin_copy_progress(from, to);
    const BOOL copied =
        CopyFileExW(from.c_str(), to.c_str(), progress != nullptr ? note_copy_progress : nullptr,
                    progress, reinterpret_cast<BOOL*>(const_cast<LONG*>(&settings.stop_state)),
                    flags);
    end_copy_progress();
    return copied != 0;
}

// Why a step of the staging failed, from the platform's error and, where
// that is not enough, a look at the file.
enum class Cause {
    none,            // the step succeeded
    held,            // another program has the file open, or its delete is pending
    no_right,        // the rights of the folder or of the file forbid the step
    name_taken,      // a file already stands under the name
    not_found,       // the file is gone: for the replace, the old copy
    stopped,         // Ctrl+C cancelled the copy
    half_replaced,   // the replace removed the old copy; the new one is the staging file
    old_copy_moved,  // the replace moved the old copy to a name of its own choosing
    no_replace,      // the file system has no replace (WebDAV, some redirectors)
    other,           // a full disk, a read error, a share gone: the file fails
};

// True when another program holds `path`: open without delete sharing
// (scanners, indexers and sync clients open every new file for a moment),
// or deleted while still open, which refuses every open, even a look at
// its attributes. A file that opens for deleting is held by nobody.
bool is_held(const std::wstring& path)
{
    const FileHandle probe(CreateFileW(path.c_str(), DELETE, share_all, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                       nullptr));
    if (probe.is_open()) {
        return false;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) {
        return true;
    }
    if (error != ERROR_ACCESS_DENIED || GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    const DWORD look = GetLastError();
    return look == ERROR_ACCESS_DENIED || look == ERROR_DELETE_PENDING;
}

// The cause of a step that failed with `error` on `file` (and `other`,
// for the replace, which renames both).
Cause cause_of(DWORD error, const std::wstring& file, const std::wstring& other = std::wstring())
{
    switch (error) {
    case ERROR_SUCCESS:
        return Cause::none;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return Cause::held;
    case ERROR_ACCESS_DENIED:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
        return is_held(file) || (!other.empty() && is_held(other)) ? Cause::held : Cause::no_right;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return Cause::name_taken;
    case ERROR_FILE_NOT_FOUND:
        return Cause::not_found;
    case ERROR_REQUEST_ABORTED:
        return Cause::stopped;
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
        return Cause::half_replaced;
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:
        return Cause::old_copy_moved;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return Cause::no_replace;
    default:
        return Cause::other;
    }
}

constexpr DWORD first_pause_ms = 15;
constexpr DWORD last_pause_ms = 960;  // the pauses add up to about 2 s

// Runs `step` until it succeeds or fails for another cause than a hold,
// pausing a little longer each time. Returns its last error (ERROR_SUCCESS
// when it succeeded); a first try that succeeds costs nothing more.
template <typename Step>
DWORD ride_out_holds(Step step, const std::wstring& file, const std::wstring& other = std::wstring())
{
    for (DWORD pause = first_pause_ms;; pause *= 2) {
        if (step()) {
            return ERROR_SUCCESS;
        }
        const DWORD error = GetLastError();
        if (pause > last_pause_ms || cause_of(error, file, other) != Cause::held) {
            return error;
        }
        Sleep(pause);
    }
}

Cause write_staging_copy(const FileJob& job, const std::wstring& staging)
{
    // Always a new file: writing into one already there would keep its
    // attributes.
    return cause_of(ride_out_holds(
                        [&] {
                            return copy_file(job.source_platform_path, staging,
                                             COPY_FILE_FAIL_IF_EXISTS);
                        },
                        staging),
                    staging);
}

// Removes a staging file whatever bits it carries: a read-only source's
// copy is read-only.
Cause remove_staging_file(const std::wstring& staging)
{
    SetFileAttributesW(staging.c_str(), FILE_ATTRIBUTE_NORMAL);
    return cause_of(ride_out_holds([&] { return DeleteFileW(staging.c_str()) != 0; }, staging),
                    staging);
}

// Renames the staging file to the real name; over what stands there only
// with MOVEFILE_REPLACE_EXISTING.
Cause rename_staging_file(const FileJob& job, const std::wstring& staging, DWORD flags)
{
    const wchar_t* const dest = job.dest_platform_path.c_str();
    return cause_of(
        ride_out_holds([&] { return MoveFileExW(staging.c_str(), dest, flags) != 0; }, staging),
        staging);
}

// Under /r the old copy's read-only bit is cleared only for its
// replacement, once the new copy is complete, so that a run killed during
// the copy leaves the old copy exactly as it was.
bool clear_read_only(const FileJob& job)
{
    return !replaces_old_copy(job) || (job.dest_attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
           SetFileAttributesW(job.dest_platform_path.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

void restore_read_only(const FileJob& job)
{
    if (replaces_old_copy(job) && (job.dest_attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(job.dest_platform_path.c_str(), job.dest_attributes);
    }
}

StagedCopy placed(StagingNote note = StagingNote::none)
{
    return {true, false, note};
}

StagedCopy failed(StagingNote note = StagingNote::none)
{
    return {false, false, note};
}

// The copy straight to the real name, unprotected, as a copy without
// staging makes it: only where the folder's rights make staging
// impossible, or where the source itself stands under the staging name.
// A new file never replaces one that appeared meanwhile.
StagedCopy copy_in_place(const FileJob& job)
{
    if (!clear_read_only(job)) {
        return failed(StagingNote::read_only_kept);
    }
    if (copy_file(job.source_platform_path, job.dest_platform_path,
                  replaces_old_copy(job) ? 0 : COPY_FILE_FAIL_IF_EXISTS)) {
        return placed();
    }
    const bool stopped = GetLastError() == ERROR_REQUEST_ABORTED;
    restore_read_only(job);
    return {false, stopped, StagingNote::none};
}

// The path the platform gives for an open file or folder; empty when it
// gives none (a volume mounted without a letter, some redirectors).
std::wstring final_path(HANDLE handle)
{
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(),
                                                   static_cast<DWORD>(buffer.size()), 0);
    if (length == 0 || length >= buffer.size()) {
        return std::wstring();
    }
    return std::wstring(buffer.data(), length);
}

std::wstring final_path_of(const std::wstring& path, DWORD flags)
{
    const FileHandle file(
        CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING, flags, nullptr));
    return file.is_open() ? final_path(file.get()) : std::wstring();
}

// Looks at what stands under the staging name `staging`. The source is
// recognised as the file itself, whatever the text of its path: a
// leftover copied on to the name it stands for, named by another drive
// letter or in the \\?\ form, must not be removed.
Leftover leftover_at(const FileJob& job, const std::wstring& staging)
{
    const DWORD itself = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!look_at(staging, itself, info)) {
        return Leftover::not_ours;
    }
    std::wstring folder = final_path_of(platform_path(settings.dest_dir), FILE_FLAG_BACKUP_SEMANTICS);
    if (!folder.empty() && folder.back() != L'\\') {
        folder += L'\\';
    }
    const std::wstring entry = folder.empty() ? folder : folder + staging_name(job.dest_file);
    return judge_leftover(info, same_file(identity_of(info), identity_at(job.source_platform_path)),
                          final_path_of(staging, itself), entry);
}

// What became of a leftover under the staging name.
enum class Clearing {
    removed,      // a killed run's, gone: the copy is made afresh
    the_source,   // the file being copied: it goes straight to the real name
    undeletable,  // the folder lets files be made but not removed or renamed
    in_the_way,   // anything else, or held beyond the pauses: left and named
};

Clearing clear_staging_name(const FileJob& job, const std::wstring& staging)
{
    switch (leftover_at(job, staging)) {
    case Leftover::the_source:
        return Clearing::the_source;
    case Leftover::not_ours:
        return Clearing::in_the_way;
    case Leftover::ours:
        break;
    }
    switch (remove_staging_file(staging)) {
    case Cause::none:
        return Clearing::removed;
    case Cause::no_right:
        return Clearing::undeletable;
    default:
        return Clearing::in_the_way;
    }
}

// The complete staging copy of a new file takes its name by a rename that
// never replaces: a file another program made under the name meanwhile
// stays.
StagedCopy place_new_copy(const FileJob& job, const std::wstring& staging)
{
    const Cause cause = rename_staging_file(job, staging, 0);
    if (cause == Cause::none) {
        return placed();
    }
    remove_staging_file(staging);
    return cause == Cause::no_right ? copy_in_place(job) : failed();
}

// The old copy is replaced by the complete staging file in one call.
// ReplaceFileW, rather than a rename over the old copy: on Windows it
// keeps the replaced file's creation time, security (ACL), short name,
// object id, named streams, encryption and compression, as the copy
// written in place used to, while the file under the name is the new one
// (other hard links keep the old contents). Merge errors are ignored, so
// that a file the user may write but not re-secure is still replaced, as
// its contents were in place; it then has its folder's default rights.
StagedCopy place_over_old_copy(const FileJob& job, const std::wstring& staging)
{
    if (!clear_read_only(job)) {
        remove_staging_file(staging);
        return failed(StagingNote::read_only_kept);
    }
    if ((job.source_attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        // The replace opens the new file for writing, which a read-only
        // file refuses; the attribute step sets the source's bits again.
        SetFileAttributesW(staging.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    const wchar_t* const dest = job.dest_platform_path.c_str();
    const DWORD error = ride_out_holds(
        [&] {
            return ReplaceFileW(dest, staging.c_str(), nullptr,
                                REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS,
                                nullptr, nullptr) != 0;
        },
        staging, job.dest_platform_path);
    return error == ERROR_SUCCESS ? placed() : after_failed_replace(job, staging, error);
}

} // namespace

bool replaces_old_copy(const FileJob& job)
{
    return job.overwriting && !settings.move;
}

// A file is written under its destination's staging name and takes the
// real name only once complete. Until then the real name is as it was,
// absent or the old copy untouched, whether the run is killed, the volume
// fills up, Ctrl+C cancels the copy or a call fails; a failure removes the
// staging file where it can. Each cause of a failure maps to one action:
// a hold is waited out, a missing right falls back to the copy in place,
// a name left empty is named, anything else fails the file.
StagedCopy copy_staged(const FileJob& job)
{
    if (settings.dest_refuses_new_files) {
        return copy_in_place(job);
    }
    const std::wstring staging = platform_path(settings.dest_dir + staging_name(job.dest_file));
    Cause cause = write_staging_copy(job, staging);
    if (cause == Cause::name_taken) {
        switch (clear_staging_name(job, staging)) {
        case Clearing::removed:
            cause = write_staging_copy(job, staging);
            break;
        case Clearing::in_the_way:
            return failed(StagingNote::leftover_in_the_way);
        case Clearing::the_source:
        case Clearing::undeletable:
            // A drop-box folder's one staging file left sends later runs
            // straight to the real name.
            return copy_in_place(job);
        }
    }
    switch (cause) {
    case Cause::none:
        return replaces_old_copy(job) ? place_over_old_copy(job, staging)
                                      : place_new_copy(job, staging);
    case Cause::no_right:
        // No right to make a file here, and nothing stands under the name.
        settings.dest_refuses_new_files = true;
        return copy_in_place(job);
    case Cause::name_taken:
        // Still taken after the leftover's delete was reported done: a
        // folder that forbids deletes all the same (Wine under chattr +a).
        return copy_in_place(job);
    default:
        remove_staging_file(staging);  // Wine leaves a failed copy's partial file
        return {false, cause == Cause::stopped, StagingNote::none};
    }
}

StagedCopy after_failed_replace(const FileJob& job, const std::wstring& staging, DWORD error)
{
    switch (cause_of(error, staging, job.dest_platform_path)) {
    case Cause::not_found:
    case Cause::half_replaced:
        // The old copy is gone (removed by another program, or by a replace
        // that failed half-way, which without a backup name leaves the new
        // copy under the staging name): the new copy must take the name.
        return rename_staging_file(job, staging, 0) == Cause::none
                   ? placed()
                   : failed(StagingNote::new_copy_in_staging);
    case Cause::old_copy_moved:
        return rename_staging_file(job, staging, 0) == Cause::none
                   ? placed(StagingNote::old_copy_renamed)
                   : failed(StagingNote::new_copy_in_staging);
    case Cause::no_replace:
        // The complete copy is renamed over the old one: the name still
        // never holds a partial file, though what the replace keeps of the
        // old file (creation time, rights, short name) is lost.
        if (rename_staging_file(job, staging, MOVEFILE_REPLACE_EXISTING) == Cause::none) {
            return placed();
        }
        break;
    case Cause::no_right:
        // The old copy may be written but not replaced (no right to delete
        // it): written in place, as without staging.
        remove_staging_file(staging);
        return copy_in_place(job);
    default:
        break;
    }
    restore_read_only(job);
    remove_staging_file(staging);
    return failed();
}

Leftover judge_leftover(const BY_HANDLE_FILE_INFORMATION& info, bool is_source,
                        const std::wstring& final_path, const std::wstring& entry_path)
{
    if (is_source) {
        return Leftover::the_source;
    }
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return Leftover::not_ours;
    }
    // Wine follows a Unix symbolic link in every call, even when asked for
    // the link itself: only the path it gives for the handle shows that the
    // file lies elsewhere. Where no path is given, the handle's word stands.
    if (final_path.empty() || entry_path.empty()) {
        return Leftover::ours;
    }
    return same_text_ignoring_case(final_path, entry_path) ? Leftover::ours : Leftover::not_ours;
}

std::wstring staging_name(const std::wstring& dest_file)
{
    // FNV-1a over the upper-cased UTF-16 units: names that the platform
    // takes for one name get one staging name.
    std::wstring upper = dest_file;
    if (!upper.empty()) {
        const int length = static_cast<int>(upper.size());
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, dest_file.c_str(), length, &upper[0],
                      length, nullptr, nullptr, 0);
    }
    std::uint64_t hash = 14695981039346656037ull;
    for (const wchar_t unit : upper) {
        hash = (hash ^ static_cast<std::uint16_t>(unit)) * 1099511628211ull;
    }
    std::wstring name = L"~tolvi-";
    for (int shift = 4 * (staging_hash_digits - 1); shift >= 0; shift -= 4) {
        name += L"0123456789ABCDEF"[(hash >> shift) & 0xF];
    }
    return name + L".tmp";
}

bool is_staging_name(const std::wstring& name)
{
    const auto digits = name.begin() + staging_prefix_length;
    return name.size() == staging_name_length &&
           _wcsnicmp(name.c_str(), L"~tolvi-", staging_prefix_length) == 0 &&
           _wcsicmp(&*(digits + staging_hash_digits), L".tmp") == 0 &&
           std::all_of(digits, digits + staging_hash_digits, [](wchar_t c) {
               return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
           });
}

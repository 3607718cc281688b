#include "copy_engine.h"

#include "console_writer.h"
#include "message_catalog.h"
#include "path_text.h"
#include "report_line.h"
#include "run_settings.h"
#include "scoped_handles.h"

#include <cstdint>

namespace {

constexpr DWORD carried_attributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool fail(const std::wstring& path, MessageId id)
{
    write_error(path, id);
    return false;
}

// The platform's copy; Ctrl+C (settings.interrupted) cancels it, and the
// platform then removes what it had written.
bool copy_file(const std::wstring& from, const std::wstring& to, DWORD flags)
{
    return CopyFileExW(from.c_str(), to.c_str(), nullptr, nullptr,
                       const_cast<BOOL*>(&settings.interrupted), flags) != 0;
}

// The copy always makes a new staging file. A leftover of a killed run is
// removed first (made writable, as it carries the source's bits): writing
// into it would keep its attributes, or reach another file through a link.
bool copy_to_staging(const std::wstring& source_path, const std::wstring& staging)
{
    if (copy_file(source_path, staging, COPY_FILE_FAIL_IF_EXISTS)) {
        return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) {
        return false;
    }
    SetFileAttributesW(staging.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(staging.c_str()) &&
           copy_file(source_path, staging, COPY_FILE_FAIL_IF_EXISTS);
}

// A new destination is written under its staging name and takes its real
// name, by a rename that never replaces a file, only once complete; a
// killed run, a full volume or any failure leaves no partial file under
// the real name, and a failure removes the staging file too.
bool copy_staged(const FileJob& job)
{
    const std::wstring staging = settings.dest_dir + staging_name(job.dest_file);
    // A leftover copied on purpose to the name it stands for: staging it
    // would write over the source.
    if (same_text_ignoring_case(staging, job.source_path)) {
        return copy_file(job.source_platform_path, job.dest_platform_path, COPY_FILE_FAIL_IF_EXISTS);
    }
    const std::wstring staging_path = platform_path(staging);
    if (copy_to_staging(job.source_platform_path, staging_path) &&
        MoveFileExW(staging_path.c_str(), job.dest_platform_path.c_str(), 0)) {
        return true;
    }
    DeleteFileW(staging_path.c_str());
    return false;
}

// After a move's copy to another volume. A read-only source (/mr) is made
// writable to be deleted, and keeps its bit when it still cannot be.
bool delete_moved_source(const FileJob& job)
{
    const wchar_t* const source = job.source_platform_path.c_str();
    const bool read_only = (job.source_attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (read_only) {
        SetFileAttributesW(source, FILE_ATTRIBUTE_NORMAL);
    }
    if (DeleteFileW(source)) {
        return true;
    }
    if (read_only) {
        SetFileAttributesW(source, job.source_attributes);
    }
    return false;
}

// Within a volume a move is one rename. To another volume the file is
// copied the staged way and the source deleted only after the copy stands
// under its real name; a source that cannot be deleted leaves both copies
// and fails the move.
bool move_file(const FileJob& job)
{
    if (MoveFileExW(job.source_platform_path.c_str(), job.dest_platform_path.c_str(), 0)) {
        return true;
    }
    return GetLastError() == ERROR_NOT_SAME_DEVICE && copy_staged(job) && delete_moved_source(job);
}

// The platform's copy or move carries contents, attributes and last-write
// time. An existing destination, which has passed the checks, is replaced
// in place, so it keeps its identity and links. Ctrl+C cancels the copy
// (settings.interrupted is its cancel flag).
bool perform_action(const FileJob& job)
{
    const bool done = settings.move     ? move_file(job)
                      : job.overwriting ? copy_file(job.source_platform_path, job.dest_platform_path, 0)
                                        : copy_staged(job);
    return done;
}

// A copy over an existing file keeps the old stored name; when the names
// are meant to be equal, the stored name takes the letter case of
// dest_file. True unless the rename failed.
bool fix_name_case(const FileJob& job)
{
    if (!job.overwriting || !same_text(job.source_file, job.dest_file)) {
        return true;
    }
    FileSearch search(job.dest_platform_path.c_str());
    if (!search.found() || !stored_name_case_differs(search.entry().name, job.dest_file)) {
        return true;
    }
    if (!MoveFileW(job.dest_platform_path.c_str(), job.dest_platform_path.c_str())) {
        return fail(job.dest_path, msg_rename_error);
    }
    return true;
}

// /c: the destination gets the source's creation time. A read-only
// destination (its bits are the source's after the action) is made
// writable first; the attribute step restores the bit.
bool carry_creation_time(const FileJob& job)
{
    if ((job.source_attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(job.dest_platform_path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    FileHandle file(CreateFileW(job.dest_platform_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.is_open()) {
        return fail(job.dest_path, msg_open_error);
    }
    if (!SetFileTime(file.get(), &job.source_creation_time, nullptr, nullptr)) {
        return fail(job.dest_path, msg_time_error);
    }
    return true;
}

// Read-only, hidden and system bits of the source: kept on the copy, or
// under /a replaced by the archive bit alone. A source without any of
// them leaves the destination as the action made it.
bool carry_attributes(const FileJob& job)
{
    const DWORD kept = job.source_attributes & carried_attributes;
    if (kept == 0) {
        return true;
    }
    DWORD wanted = FILE_ATTRIBUTE_ARCHIVE;
    if (!settings.no_attributes) {
        const DWORD current = GetFileAttributesW(job.dest_platform_path.c_str());
        if ((current & carried_attributes) == kept) {
            return true;
        }
        wanted = kept | FILE_ATTRIBUTE_ARCHIVE;
    }
    if (!SetFileAttributesW(job.dest_platform_path.c_str(), wanted)) {
        return fail(job.dest_path, msg_attr_error);
    }
    return true;
}

} // namespace

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
    for (int shift = 60; shift >= 0; shift -= 4) {
        name += L"0123456789ABCDEF"[(hash >> shift) & 0xF];
    }
    return name + L".tmp";
}

bool stored_name_case_differs(const std::wstring& found_name, const std::wstring& dest_file)
{
    return !same_text(found_name, dest_file);
}

FileOutcome run_action_stage(const FileJob& job)
{
    begin_report_line(job);
    if (!perform_action(job)) {
        report_action_failure(job);
        // A copy cancelled by Ctrl+C leaves nothing behind: stopped by choice.
        return settings.interrupted ? FileOutcome::not_needed : FileOutcome::refused;
    }
    end_report_line();

    bool result = fix_name_case(job);
    if (settings.keep_create_time && !carry_creation_time(job)) {
        result = false;
    }
    if (!carry_attributes(job)) {
        result = false;
    }
    if (job.overwriting) {
        ++settings.overwrite_count;
    } else {
        ++settings.new_count;
    }
    // A failure after the action still counts the file, but its message
    // asks for a look.
    return result ? FileOutcome::done : FileOutcome::refused;
}

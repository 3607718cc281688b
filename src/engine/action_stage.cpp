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
StagedCopy move_file(const FileJob& job)
{
    StagedCopy moved;
    if (MoveFileExW(job.source_platform_path.c_str(), job.dest_platform_path.c_str(), 0)) {
        moved.placed = true;
    } else if (GetLastError() == ERROR_NOT_SAME_DEVICE) {
        moved = copy_staged(job);
        moved.placed = moved.placed && delete_moved_source(job);
    }
    return moved;
}

// Writes the line a file's staging left, if any, after the file's own
// line or message; true when there was none.
bool write_staging_note(const FileJob& job, StagingNote note)
{
    const auto staging = [&] { return settings.dest_dir + staging_name(job.dest_file); };
    switch (note) {
    case StagingNote::none:
        return true;
    case StagingNote::read_only_kept:
        write_error(job.dest_path, msg_attr_error);
        break;
    case StagingNote::leftover_in_the_way:
        write_error(staging(), msg_leftover_in_the_way);
        break;
    case StagingNote::new_copy_in_staging:
        write_error(staging(), msg_new_copy_in_staging);
        break;
    case StagingNote::old_copy_renamed:
        write_error(job.dest_path, msg_old_copy_renamed);
        break;
    }
    return false;
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

bool stored_name_case_differs(const std::wstring& found_name, const std::wstring& dest_file)
{
    return !same_text(found_name, dest_file);
}

FileOutcome run_action_stage(const FileJob& job)
{
    begin_report_line(job);
    const StagedCopy action = settings.move ? move_file(job) : copy_staged(job);
    if (!action.placed) {
        report_action_failure(job);
        write_staging_note(job, action.note);
        // A copy cancelled by Ctrl+C leaves nothing behind: stopped by
        // choice. Any other failure asks for a look, stop or not.
        return action.stopped ? FileOutcome::not_needed : FileOutcome::refused;
    }
    end_report_line();

    bool result = write_staging_note(job, action.note);
    if (!fix_name_case(job)) {
        result = false;
    }
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

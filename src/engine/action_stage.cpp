#include "copy_engine.h"

#include "console_writer.h"
#include "message_catalog.h"
#include "path_text.h"
#include "report_line.h"
#include "run_settings.h"
#include "scoped_handles.h"

namespace {

constexpr DWORD carried_attributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool fail(const std::wstring& path, MessageId id)
{
    write_error(path, id);
    return false;
}

// Set while the platform's call runs, for a handler that must wait for it.
volatile BOOL action_running = FALSE;

DWORD CALLBACK cancel_when_asked(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD,
                                 DWORD, HANDLE, HANDLE, LPVOID)
{
    return settings.interrupted ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

// One platform call carries contents, attributes and last-write time.
// A copy replaces an existing destination, which has passed the checks.
// Only during this call does Ctrl+C cancel the call instead of ending the
// process, so the platform removes what it had written rather than leave
// a truncated file newer than its source.
bool perform_action(const FileJob& job)
{
    action_running = TRUE;
    SetConsoleCtrlHandler(cancel_action_on_control_event, TRUE);
    const BOOL done =
        settings.move
            ? MoveFileWithProgressW(job.source_platform_path.c_str(),
                                    job.dest_platform_path.c_str(), cancel_when_asked, nullptr,
                                    MOVEFILE_COPY_ALLOWED)
            : CopyFileExW(job.source_platform_path.c_str(), job.dest_platform_path.c_str(),
                          nullptr, nullptr, const_cast<BOOL*>(&settings.interrupted), 0);
    SetConsoleCtrlHandler(cancel_action_on_control_event, FALSE);
    action_running = FALSE;
    return done != 0;
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

BOOL WINAPI cancel_action_on_control_event(DWORD event)
{
    settings.interrupted = TRUE;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The process is ended as soon as this handler returns: wait (a
        // little less than the platform's grace period) until the call has
        // cleaned up after itself.
        for (int waited = 0; waited < 400 && action_running; ++waited) {
            Sleep(10);
        }
    }
    return TRUE;
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

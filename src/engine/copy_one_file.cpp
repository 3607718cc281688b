#include "copy_engine.h"

#include "console_writer.h"
#include "message_catalog.h"
#include "path_text.h"
#include "prompt.h"
#include "run_settings.h"
#include "scoped_handles.h"

namespace {

// Set by every refusal of the file in hand: a message was written for it.
// Cleared as each file starts.
bool file_refused = false;

bool refuse(const std::wstring& path, MessageId id)
{
    write_error(path, id);
    file_refused = true;
    return false;
}

bool refuse_alone(MessageId id)
{
    write_message(id);
    file_refused = true;
    return false;
}

// Yes or All lets the file go ahead. A question that could not be asked
// leaves the file as a No would, but nobody chose that: a refusal, written
// as one under the destination's path with `not_asked`.
bool answered_yes(PromptAnswer answer, const FileJob& job, MessageId not_asked)
{
    if (answer == PromptAnswer::not_asked) {
        return refuse(job.dest_path, not_asked);
    }
    return answer == PromptAnswer::yes;
}

// The outcome of a file the decision stopped.
FileOutcome not_done()
{
    return file_refused ? FileOutcome::refused : FileOutcome::not_needed;
}

HANDLE open_for_reading(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

// Opens `path` for reading and reads its times (and the attributes the
// handle reports, which only the same-file guard compares); false when it
// cannot be opened. Times that cannot be read stay zero.
bool read_times(const std::wstring& path, FILE_BASIC_INFO& info)
{
    info = FILE_BASIC_INFO{};
    FileHandle file(open_for_reading(path));
    if (!file.is_open()) {
        return false;
    }
    if (!GetFileInformationByHandleEx(file.get(), FileBasicInfo, &info, sizeof(info))) {
        info = FILE_BASIC_INFO{};
    }
    return true;
}

FILETIME file_time(const LARGE_INTEGER& time)
{
    FILETIME result;
    result.dwLowDateTime = time.LowPart;
    result.dwHighDateTime = static_cast<DWORD>(time.HighPart);
    return result;
}

// True when `path`, resolved as the platform resolves it, still ends in
// the listed `name`. An ordinary path drops a trailing dot or blank and
// turns a device name (nul.txt) into the device, so it would reach
// another file; a \\?\ path is taken literally.
bool path_keeps_name(const std::wstring& path, const std::wstring& name)
{
    if (path.compare(0, 4, L"\\\\?\\") == 0) {
        return true;
    }
    std::wstring resolved;
    const auto full_path = [](LPCWSTR from, LPWSTR buffer, DWORD size) {
        return GetFullPathNameW(from, size, buffer, nullptr);
    };
    if (!path_form(full_path, path, resolved)) {
        return false;
    }
    const wchar_t* const device = L"\\\\.\\";
    if (resolved.compare(0, 4, device) == 0 && path.compare(0, 4, device) != 0) {
        return false;
    }
    // Beyond the classic limit the platform is handed the \\?\ form, which
    // takes every component literally: it must name what the path names.
    if (platform_path(path) != path && resolved != path) {
        return false;
    }
    const std::size_t last = resolved.find_last_of(L'\\') + 1;
    return resolved.compare(last, std::wstring::npos, name) == 0;
}

// One file shows one set of attributes and times on every route to it;
// the last-access time is left out, as reading may change it. The
// identity query asks the volume for its serial number, which is slow on
// some systems, so it is made only for a destination that passes this.
bool may_be_one_file(const FILE_BASIC_INFO& a, const FILE_BASIC_INFO& b)
{
    return a.CreationTime.QuadPart == b.CreationTime.QuadPart &&
           a.LastWriteTime.QuadPart == b.LastWriteTime.QuadPart &&
           a.ChangeTime.QuadPart == b.ChangeTime.QuadPart && a.FileAttributes == b.FileAttributes;
}

// True when the destination is the source reached by another name (letter
// case, short name, hard link, another route): replacing or deleting it
// would destroy the source.
bool is_the_source_itself(const FileJob& job, const FILE_BASIC_INFO& source,
                          const FILE_BASIC_INFO& dest)
{
    return may_be_one_file(source, dest) &&
           same_file(identity_at(job.source_platform_path), identity_at(job.dest_platform_path));
}

// Under /m: a hidden or system source is never moved, a read-only one only
// under /mr. Writes the refusal; true when the source may be moved.
bool source_may_be_moved(const FileJob& job)
{
    if ((job.source_attributes & hidden_or_system) != 0) {
        return refuse(job.source_path, msg_hidden_system);
    }
    if (!settings.move_read_only && (job.source_attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return refuse(job.source_path, msg_read_only);
    }
    return true;
}

// The listed names reach the files they name (an ordinary path drops a
// trailing dot or blank and turns nul.txt into a device) and the source
// exists. Fills the platform forms of both paths and the source's
// attributes; false after a refusal.
bool source_is_there(FileJob& job)
{
    if (!path_keeps_name(job.source_path, job.source_file)) {
        return refuse(job.source_path, msg_file_not_found);
    }
    if (!path_keeps_name(job.dest_path, job.dest_file)) {
        return refuse(job.dest_path, msg_file_name_invalid);
    }
    job.source_platform_path = platform_path(job.source_path);
    job.dest_platform_path = platform_path(job.dest_path);
    job.source_attributes = GetFileAttributesW(job.source_platform_path.c_str());
    if (job.source_attributes == INVALID_FILE_ATTRIBUTES) {
        return refuse(job.source_path, msg_file_not_found);
    }
    return true;
}

// New destination: /e skips it, /p asks first. True when it goes ahead.
bool may_copy_new(const FileJob& job)
{
    if (settings.existing_only) {
        return false;
    }
    if (settings.prompt_new &&
        !answered_yes(prompt_yes_no_all(job.dest_file + std::wstring(message_text(msg_ask_copy)),
                                        settings.prompt_new),
                      job, msg_copy_not_asked)) {
        return false;
    }
    // Ctrl+C while the file was decided: it is left as it is.
    return !run_stopping();
}

} // namespace

bool source_may_be_used(FileJob& job, FILE_BASIC_INFO& source)
{
    if (settings.move && !source_may_be_moved(job)) {
        return false;
    }
    if (!read_times(job.source_platform_path, source)) {
        return refuse(job.source_path, msg_open_error);
    }
    job.source_creation_time = file_time(source.CreationTime);
    job.source_seconds = whole_seconds(file_time(source.LastWriteTime));
    return true;
}

bool may_overwrite(FileJob& job, const FILE_BASIC_INFO& source)
{
    if ((job.dest_attributes & hidden_or_system) != 0) {
        return refuse(job.dest_path, msg_hidden_system);
    }
    const bool read_only = (job.dest_attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (read_only && !settings.overwrite_read_only) {
        return refuse(job.dest_path, msg_write_prohibited);
    }
    FILE_BASIC_INFO dest{};
    if (!read_times(job.dest_platform_path, dest)) {
        return refuse(job.dest_path, msg_open_error);
    }
    job.dest_seconds = whole_seconds(file_time(dest.LastWriteTime));
    if (is_the_source_itself(job, source, dest)) {
        return refuse_alone(msg_same_file);
    }
    if (settings.newer_only &&
        !source_is_newer(job.source_seconds, job.dest_seconds, settings.time_tolerance)) {
        return false;
    }
    if (!settings.no_overwrite_prompt &&
        !answered_yes(prompt_yes_no_all(job.dest_file + std::wstring(message_text(msg_ask_overwrite)),
                                        settings.no_overwrite_prompt),
                      job, msg_overwrite_not_asked)) {
        return false;
    }
    // The last moment the file can be left as it is: its preparation
    // below (read-only cleared, deleted before a move) goes with the action.
    if (run_stopping()) {
        return false;
    }
    const wchar_t* const dest_path = job.dest_platform_path.c_str();
    if (read_only && !SetFileAttributesW(dest_path, FILE_ATTRIBUTE_NORMAL)) {
        return refuse(job.dest_path, msg_attr_error);
    }
    if (read_only && !settings.move) {
        // A copy keeps the bit until its replace, once the new copy is
        // complete, so that a run killed meanwhile leaves the old copy as it
        // was; the clear above shows that the replace can have it cleared.
        SetFileAttributesW(dest_path, job.dest_attributes);
    }
    if (settings.move && !delete_holding_source(job.source_platform_path, job.dest_platform_path)) {
        return refuse(job.dest_path, msg_delete_error);
    }
    return true;
}

FileIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& info)
{
    return {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow, true};
}

bool look_at(const std::wstring& path, DWORD flags, BY_HANDLE_FILE_INFORMATION& info)
{
    info = BY_HANDLE_FILE_INFORMATION{};
    const FileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                                      OPEN_EXISTING, flags, nullptr));
    return file.is_open() && GetFileInformationByHandle(file.get(), &info);
}

FileIdentity identity_at(const std::wstring& path)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return look_at(path, 0, info) ? identity_of(info) : FileIdentity{};
}

bool same_file(const FileIdentity& a, const FileIdentity& b)
{
    return a.known && b.known && a.volume_serial == b.volume_serial &&
           a.index_high == b.index_high && a.index_low == b.index_low;
}

// A route to the source that the same-file guard cannot see (a share onto
// a local folder, another volume's view of it) would let the delete take
// the source itself; held open without delete sharing, it cannot go.
bool delete_holding_source(const std::wstring& source_path, const std::wstring& dest_path)
{
    const FileHandle source(CreateFileW(source_path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
    return source.is_open() && DeleteFileW(dest_path.c_str());
}

std::uint64_t whole_seconds(const FILETIME& time)
{
    const std::uint64_t units =
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return units / 10000000u;
}

bool times_within_tolerance(std::uint64_t source_seconds, std::uint64_t dest_seconds,
                            std::int32_t tolerance)
{
    const std::uint64_t difference =
        source_seconds >= dest_seconds ? source_seconds - dest_seconds : dest_seconds - source_seconds;
    return tolerance >= 0 && difference <= static_cast<std::uint64_t>(tolerance);
}

bool source_is_newer(std::uint64_t source_seconds, std::uint64_t dest_seconds,
                     std::int32_t tolerance)
{
    return !times_within_tolerance(source_seconds, dest_seconds, tolerance) &&
           !(source_seconds < dest_seconds);
}

FileOutcome copy_one_file(const std::wstring& source_file, const std::wstring& dest_file)
{
    file_refused = false;
    FileJob job;
    job.source_file = source_file;
    job.dest_file = dest_file;
    job.source_path = settings.source_dir + source_file;
    job.dest_path = settings.dest_dir + dest_file;

    FILE_BASIC_INFO source{};
    if (!source_is_there(job) || !source_may_be_used(job, source)) {
        return not_done();
    }
    job.dest_attributes = GetFileAttributesW(job.dest_platform_path.c_str());
    job.overwriting = job.dest_attributes != INVALID_FILE_ATTRIBUTES;
    const bool go_ahead = job.overwriting ? may_overwrite(job, source) : may_copy_new(job);
    if (!go_ahead) {
        return not_done();
    }
    return run_action_stage(job);
}

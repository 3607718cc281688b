#include "copy_engine.h"

#include "console_writer.h"
#include "message_catalog.h"
#include "prompt.h"
#include "run_settings.h"
#include "scoped_handles.h"

namespace {

constexpr DWORD hidden_or_system = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool refuse(const std::wstring& path, MessageId id)
{
    write_error(path, id);
    return false;
}

HANDLE open_for_reading(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

// Opens `path` for reading and reads its times; false when it cannot be
// opened. A failed GetFileTime leaves the times at zero.
bool read_times(const std::wstring& path, FILETIME& creation, FILETIME& last_write)
{
    FileHandle file(open_for_reading(path));
    if (!file.is_open()) {
        return false;
    }
    GetFileTime(file.get(), &creation, nullptr, &last_write);
    return true;
}

FileIdentity identity_of(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) {
        return {};
    }
    return {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow, true};
}

// The identity of the file at `path`, opened only to ask it; unknown when
// it cannot be opened.
FileIdentity identity_at(const std::wstring& path)
{
    FileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    return file.is_open() ? identity_of(file.get()) : FileIdentity{};
}

bool same_time(const FILETIME& a, const FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// True when both identities are known and name one file.
bool same_file(const FileIdentity& a, const FileIdentity& b)
{
    return a.known && b.known && a.volume_serial == b.volume_serial &&
           a.index_high == b.index_high && a.index_low == b.index_low;
}

// Opens the destination for its last-write time (into job.dest_seconds)
// and, when it shows the source's times, its identity. False when it
// cannot be opened.
bool read_dest_time(FileJob& job, FileIdentity& identity)
{
    FileHandle dest(open_for_reading(job.dest_path));
    if (!dest.is_open()) {
        return false;
    }
    FILETIME creation{};
    FILETIME last_write{};
    GetFileTime(dest.get(), &creation, nullptr, &last_write);
    job.dest_seconds = whole_seconds(last_write);
    // One file has one set of times, so only a destination showing the
    // source's times can be the source under another name. The identity
    // query asks the volume for its serial number, which is slow on some
    // systems, so it is not made for every file.
    if (job.dest_seconds == job.source_seconds && same_time(creation, job.source_creation_time)) {
        identity = identity_of(dest.get());
    }
    return true;
}

// True when the destination is the source reached by another name (letter
// case, short name, hard link, another route): replacing or deleting it
// would destroy the source.
bool is_the_source_itself(const FileJob& job, const FileIdentity& dest_identity)
{
    return dest_identity.known && same_file(identity_at(job.source_path), dest_identity);
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

// New destination: /e skips it, /p asks first. True when it goes ahead.
bool may_copy_new(const FileJob& job)
{
    if (settings.existing_only) {
        return false;
    }
    if (settings.prompt_new) {
        return prompt_yes_no_all(job.dest_file + std::wstring(message_text(msg_ask_copy)),
                                 settings.prompt_new);
    }
    return true;
}

// Existing destination: every rule that may refuse or skip it, then its
// preparation (read-only cleared, deleted before a move). True when the
// file goes ahead.
bool may_overwrite(FileJob& job)
{
    if ((job.dest_attributes & hidden_or_system) != 0) {
        return refuse(job.dest_path, msg_hidden_system);
    }
    const bool read_only = (job.dest_attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (read_only && !settings.overwrite_read_only) {
        return refuse(job.dest_path, msg_write_prohibited);
    }
    FileIdentity dest_identity;
    if (!read_dest_time(job, dest_identity)) {
        return refuse(job.dest_path, msg_open_error);
    }
    if (is_the_source_itself(job, dest_identity)) {
        write_message(msg_same_file);
        return false;
    }
    if (settings.newer_only &&
        !source_is_newer(job.source_seconds, job.dest_seconds, settings.time_tolerance)) {
        return false;
    }
    if (!settings.no_overwrite_prompt &&
        !prompt_yes_no_all(job.dest_file + std::wstring(message_text(msg_ask_overwrite)),
                           settings.no_overwrite_prompt)) {
        return false;
    }
    if (read_only && !SetFileAttributesW(job.dest_path.c_str(), FILE_ATTRIBUTE_NORMAL)) {
        return refuse(job.dest_path, msg_attr_error);
    }
    if (settings.move && !DeleteFileW(job.dest_path.c_str())) {
        return refuse(job.dest_path, msg_delete_error);
    }
    return true;
}

} // namespace

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

bool copy_one_file(const std::wstring& source_file, const std::wstring& dest_file)
{
    FileJob job;
    job.source_file = source_file;
    job.dest_file = dest_file;
    job.source_path = settings.source_dir + source_file;
    job.dest_path = settings.dest_dir + dest_file;

    job.source_attributes = GetFileAttributesW(job.source_path.c_str());
    if (job.source_attributes == INVALID_FILE_ATTRIBUTES) {
        return refuse(job.source_path, msg_file_not_found);
    }
    if (settings.move && !source_may_be_moved(job)) {
        return false;
    }
    FILETIME last_write{};
    if (!read_times(job.source_path, job.source_creation_time, last_write)) {
        return refuse(job.source_path, msg_open_error);
    }
    job.source_seconds = whole_seconds(last_write);

    job.dest_attributes = GetFileAttributesW(job.dest_path.c_str());
    job.overwriting = job.dest_attributes != INVALID_FILE_ATTRIBUTES;
    const bool go_ahead = job.overwriting ? may_overwrite(job) : may_copy_new(job);
    if (!go_ahead) {
        return false;
    }
    return run_action_stage(job);
}

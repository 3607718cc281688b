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

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The platform's copy; Ctrl+C (settings.interrupted) cancels it, and the
// platform then removes what it had written.
bool copy_file(const std::wstring& from, const std::wstring& to, DWORD flags)
{
    // At a console a long copy shows how far it has got after the report
    // line; the figure is gone again, and the copy's last error kept, when
    // this returns.
    ReportedBytes* const progress = begin_copy_progress(from, to);
    const BOOL copied =
        CopyFileExW(from.c_str(), to.c_str(), progress != nullptr ? note_copy_progress : nullptr,
                    progress, const_cast<BOOL*>(&settings.interrupted), flags);
    end_copy_progress();
    return copied != 0;
}

// The copy straight to the real name, as a copy without staging makes it:
// a new file never replaces a file that appeared meanwhile, an old copy is
// written over in place.
bool copy_to_real_name(const FileJob& job)
{
    return copy_file(job.source_platform_path, job.dest_platform_path,
                     replaces_old_copy(job) ? 0 : COPY_FILE_FAIL_IF_EXISTS);
}

// What stands under a staging name that the copy found taken.
enum class Leftover {
    plain_file,  // a killed run's, or any other plain file: may be removed
    the_source,  // the file being copied, by another route or name
    other,       // a folder, a link, or what cannot be looked at: left alone
};

// The path the platform gives for an open file or folder; empty when it
// gives none.
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

// True when the open `file` is the entry `name` of the destination folder
// itself. Wine follows a Unix symbolic link in every call, even when asked
// for the link itself, so only the path it gives for the handle shows that
// the file lies elsewhere.
bool reached_by_its_own_name(HANDLE file, const std::wstring& name)
{
    const FileHandle folder(CreateFileW(platform_path(settings.dest_dir).c_str(),
                                        FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::wstring expected = folder.is_open() ? final_path(folder.get()) : std::wstring();
    if (expected.empty()) {
        return false;
    }
    if (expected.back() != L'\\') {
        expected += L'\\';
    }
    return same_text_ignoring_case(final_path(file), expected + name);
}

// Looks at what stands under the staging name `staging` (its entry name
// `name`). The source is recognised as the file itself, whatever the text
// of its path: a leftover copied on to the name it stands for, named by
// another drive letter or in the \\?\ form, must not be removed.
Leftover leftover_at(const FileJob& job, const std::wstring& staging, const std::wstring& name)
{
    const DWORD itself = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
    const FileHandle file(CreateFileW(staging.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                                      OPEN_EXISTING, itself, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.is_open() || !GetFileInformationByHandle(file.get(), &info)) {
        return Leftover::other;
    }
    if (same_file(identity_of(info), identity_at(job.source_platform_path))) {
        return Leftover::the_source;
    }
    const DWORD not_plain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return (info.dwFileAttributes & not_plain) == 0 && reached_by_its_own_name(file.get(), name)
               ? Leftover::plain_file
               : Leftover::other;
}

// Removes a staging file whatever bits it carries: a read-only source's
// copy is read-only.
void remove_staging_file(const std::wstring& staging)
{
    SetFileAttributesW(staging.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(staging.c_str());
}

// True when nothing stands under `path`; a name that cannot be looked at
// may still be taken.
bool name_is_free(const wchar_t* path)
{
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// How the copy to the staging name ended.
enum class Staging { written, failed, use_real_name };

// The copy always makes a new staging file: writing into one already there
// would keep its attributes. A plain file there (a killed run's) is
// removed first; the source itself there is copied straight to the real
// name, and so is a file whose leftover stays after its delete (a folder
// that forbids deletes); anything else there refuses the file. A failed
// copy's partial file goes (Wine leaves it), if it is a plain file.
Staging copy_to_staging(const FileJob& job, const std::wstring& staging, const std::wstring& name)
{
    const std::wstring& source = job.source_platform_path;
    if (copy_file(source, staging, COPY_FILE_FAIL_IF_EXISTS)) {
        return Staging::written;
    }
    if (GetLastError() == ERROR_FILE_EXISTS) {
        const Leftover leftover = leftover_at(job, staging, name);
        if (leftover != Leftover::plain_file) {
            return leftover == Leftover::the_source ? Staging::use_real_name : Staging::failed;
        }
        remove_staging_file(staging);
        if (copy_file(source, staging, COPY_FILE_FAIL_IF_EXISTS)) {
            return Staging::written;
        }
        if (GetLastError() == ERROR_FILE_EXISTS) {
            return Staging::use_real_name;
        }
    }
    if (leftover_at(job, staging, name) == Leftover::plain_file) {
        remove_staging_file(staging);
    }
    return Staging::failed;
}

// The old copy is replaced by the complete staging file in one call.
// ReplaceFileW, rather than a rename over the old copy: on Windows it
// keeps the replaced file's creation time, security (ACL), short name,
// object id, named streams, encryption and compression, as the copy
// written in place used to, while the file under the name is the new one
// (other hard links keep the old contents). Merge errors are ignored, so
// that a file the user may write but not re-secure is still replaced, as
// its contents were in place; it then has its folder's default rights.
bool replace_old_copy(const FileJob& job, const std::wstring& staging)
{
    if ((job.source_attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        // The replace opens the new file for writing, which a read-only
        // file refuses; the attribute step sets the source's bits again.
        SetFileAttributesW(staging.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    return ReplaceFileW(job.dest_platform_path.c_str(), staging.c_str(), nullptr,
                        REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                        nullptr) != 0;
}

} // namespace

// True when the action puts the file over an old copy at the destination
// (a move has deleted it before).
bool replaces_old_copy(const FileJob& job)
{
    return job.overwriting && !settings.move;
}

// A file is written under its destination's staging name and takes the
// real name only once complete: a new file by a rename that never replaces
// (a file another program made under the name meanwhile stays), an old
// copy by the replace above. Until then the real name is as it was, absent
// or the old copy untouched, whether the run is killed, the volume fills
// up, Ctrl+C cancels the copy or a call fails; a failure removes the
// staging file.
bool copy_staged(const FileJob& job)
{
    const std::wstring name = staging_name(job.dest_file);
    const std::wstring staging = platform_path(settings.dest_dir + name);
    const Staging staged = copy_to_staging(job, staging, name);
    if (staged != Staging::written) {
        return staged == Staging::use_real_name && copy_to_real_name(job);
    }
    const wchar_t* const dest = job.dest_platform_path.c_str();
    const bool placed = replaces_old_copy(job) ? replace_old_copy(job, staging)
                                               : MoveFileExW(staging.c_str(), dest, 0) != 0;
    if (placed) {
        return true;
    }
    if (replaces_old_copy(job) && name_is_free(dest)) {
        // The old copy is gone: removed by another program, or by a replace
        // that failed half-way (ERROR_UNABLE_TO_MOVE_REPLACEMENT, which
        // without a backup name leaves the new copy under the staging
        // name). The staging file is all there is: it takes the free name,
        // or stays.
        return MoveFileExW(staging.c_str(), dest, 0) != 0;
    }
    remove_staging_file(staging);
    // A folder where files can be made but not renamed or deleted (a
    // drop-box share; chattr +a under Wine, where the delete reports
    // success all the same): the copy goes to the real name as without
    // staging, and the one staging file left sends later runs there at once.
    return !name_is_free(staging.c_str()) && copy_to_real_name(job);
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
    for (int shift = 60; shift >= 0; shift -= 4) {
        name += L"0123456789ABCDEF"[(hash >> shift) & 0xF];
    }
    return name + L".tmp";
}

bool is_staging_name(const std::wstring& name)
{
    const std::size_t digits = 7;
    if (name.size() != staging_name_length || _wcsnicmp(name.c_str(), L"~tolvi-", digits) != 0 ||
        _wcsicmp(name.c_str() + digits + 16, L".tmp") != 0) {
        return false;
    }
    return std::all_of(name.begin() + digits, name.begin() + digits + 16, [](wchar_t c) {
        return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
    });
}

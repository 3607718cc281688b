// Two floors for the benchmark, both without output. Benchmark use only.
//
//   bare_loop copy|move SOURCE_PATTERN DEST_FOLDER
//   bare_loop floor [u] [staged] copy|move SOURCE_PATTERN DEST_FOLDER
//
// DEST_FOLDER ends with a backslash.
//
// The bare loop lists the files matching a pattern and copies (CopyFileW,
// an existing destination replaced) or moves (MoveFileW) each into a
// folder, with no checks: the floor for a tool that hands each file to one
// platform call.
//
// The floor mode makes, per file, the calls that the per-file decision of
// the tool needs and nothing else:
//   - the source's attributes by path: whether it still exists, and the
//     move's refusal of hidden, system and read-only files;
//   - the source opened for its times (whether it can be opened; its
//     creation and last-write times);
//   - the destination's attributes: new or existing, and the refusal of a
//     hidden, system or read-only destination;
//   - for an existing destination: the destination opened for its
//     last-write time; with "u", the skip when the source is not newer in
//     whole seconds (tolerance 0, one volume); for a move, the delete;
//   - the one CopyFileW or MoveFileW;
//   - after a replaced destination, the lookup of its stored name (and the
//     rename that gives it the source's letter case, when they differ).
// With "staged", every copy goes to a staging name in the destination
// folder (CopyFileW failing if it exists), as the tool stages its copies:
// a new destination then takes its name by a rename (MoveFileExW without
// replacing), an existing one is replaced by the staged copy (ReplaceFileW,
// merge and ACL errors ignored, no backup). Without it an existing
// destination is copied over in place.
//
// Exit code: 0 when every file was done or skipped as it should be, 1 when
// a call failed or a file was refused, 2 on bad usage.
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

namespace {

struct Times {
    FILETIME creation{};
    FILETIME last_write{};
};

std::uint64_t whole_seconds(const FILETIME& time)
{
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return ticks / 10000000u;
}

// Opens the file as the tool does for its times: read access, shared for
// reading and writing.
bool read_times(const std::wstring& path, bool with_creation, Times& times)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    GetFileTime(file, with_creation ? &times.creation : nullptr, nullptr, &times.last_write);
    CloseHandle(file);
    return true;
}

bool refused_source(DWORD attributes, bool move)
{
    const DWORD refused = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
    return move && (attributes & refused) != 0;
}

bool refused_destination(DWORD attributes)
{
    const DWORD refused = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
    return (attributes & refused) != 0;
}

// Gives a replaced destination the letter case of its new name.
bool keep_name_case(const std::wstring& dest_path, const wchar_t* name)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(dest_path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return true;
    }
    bool done = true;
    if (std::wcscmp(found.cFileName, name) != 0) {
        done = MoveFileW(dest_path.c_str(), dest_path.c_str()) != 0;
    }
    FindClose(search);
    return done;
}

// The tool's staging name: a fixed text around a hash of the upper-cased
// name.
std::wstring staging_path(const std::wstring& dest_dir, const wchar_t* name)
{
    std::wstring upper = name;
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name, static_cast<int>(upper.size()),
                  &upper[0], static_cast<int>(upper.size()), nullptr, nullptr, 0);
    std::uint64_t hash = 14695981039346656037ull;
    for (const wchar_t unit : upper) {
        hash = (hash ^ static_cast<std::uint16_t>(unit)) * 1099511628211ull;
    }
    std::wstring path = dest_dir + L"~tolvi-";
    for (int shift = 60; shift >= 0; shift -= 4) {
        path += L"0123456789ABCDEF"[(hash >> shift) & 0xF];
    }
    return path + L".tmp";
}

bool staged_copy(const std::wstring& from, const std::wstring& to, const std::wstring& dest_dir,
                 const wchar_t* name, bool overwriting)
{
    const std::wstring staging = staging_path(dest_dir, name);
    if (!CopyFileW(from.c_str(), staging.c_str(), TRUE)) {
        return false;
    }
    const DWORD replace_flags = REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS;
    return overwriting ? ReplaceFileW(to.c_str(), staging.c_str(), nullptr, replace_flags,
                                      nullptr, nullptr) != 0
                       : MoveFileExW(staging.c_str(), to.c_str(), 0) != 0;
}

enum class Outcome { done, skipped, failed };

Outcome floor_one_file(const std::wstring& source_dir, const std::wstring& dest_dir,
                       const WIN32_FIND_DATAW& entry, bool move, bool newer_only, bool staged)
{
    const std::wstring from = source_dir + entry.cFileName;
    const std::wstring to = dest_dir + entry.cFileName;
    const DWORD source_attributes = GetFileAttributesW(from.c_str());
    if (source_attributes == INVALID_FILE_ATTRIBUTES || refused_source(source_attributes, move)) {
        return Outcome::failed;
    }
    Times source;
    if (!read_times(from, true, source)) {
        return Outcome::failed;
    }
    const DWORD dest_attributes = GetFileAttributesW(to.c_str());
    const bool overwriting = dest_attributes != INVALID_FILE_ATTRIBUTES;
    if (overwriting) {
        if (refused_destination(dest_attributes)) {
            return Outcome::failed;
        }
        Times dest;
        if (!read_times(to, false, dest)) {
            return Outcome::failed;
        }
        if (newer_only && whole_seconds(source.last_write) <= whole_seconds(dest.last_write)) {
            return Outcome::skipped;
        }
        if (move && !DeleteFileW(to.c_str())) {
            return Outcome::failed;
        }
    }
    const bool acted = move     ? MoveFileW(from.c_str(), to.c_str()) != 0
                       : staged ? staged_copy(from, to, dest_dir, entry.cFileName, overwriting)
                                : CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
    if (!acted) {
        return Outcome::failed;
    }
    if (overwriting && !keep_name_case(to, entry.cFileName)) {
        return Outcome::failed;
    }
    return Outcome::done;
}

Outcome bare_one_file(const std::wstring& source_dir, const std::wstring& dest_dir,
                      const WIN32_FIND_DATAW& entry, bool move)
{
    const std::wstring from = source_dir + entry.cFileName;
    const std::wstring to = dest_dir + entry.cFileName;
    const BOOL done = move ? MoveFileW(from.c_str(), to.c_str())
                           : CopyFileW(from.c_str(), to.c_str(), FALSE);
    return done ? Outcome::done : Outcome::failed;
}

} // namespace

int wmain(int argc, wchar_t* argv[])
{
    int next = 1;
    const bool floor = next < argc && std::wcscmp(argv[next], L"floor") == 0;
    if (floor) {
        ++next;
    }
    const bool newer_only = floor && next < argc && std::wcscmp(argv[next], L"u") == 0;
    if (newer_only) {
        ++next;
    }
    const bool staged = floor && next < argc && std::wcscmp(argv[next], L"staged") == 0;
    if (staged) {
        ++next;
    }
    if (argc - next != 3) {
        return 2;
    }
    const bool move = std::wcscmp(argv[next], L"move") == 0;
    if (!move && std::wcscmp(argv[next], L"copy") != 0) {
        return 2;
    }
    const std::wstring pattern = argv[next + 1];
    const std::wstring dest_dir = argv[next + 2];
    const std::wstring source_dir = pattern.substr(0, pattern.find_last_of(L'\\') + 1);

    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return 1;
    }
    int exit_code = 0;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        const Outcome outcome =
            floor ? floor_one_file(source_dir, dest_dir, entry, move, newer_only, staged)
                  : bare_one_file(source_dir, dest_dir, entry, move);
        if (outcome == Outcome::failed) {
            exit_code = 1;
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return exit_code;
}

// Helpers for end-to-end tests: start the real tolvi.exe as a separate
// process on real folders, capture its exit code and output bytes, and
// make and inspect files with given contents, times and attributes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct RunResult {
    int exit_code = -1;
    std::string out;   // bytes written to standard output
    std::string err;   // bytes written to standard error
    std::string both;  // with merge_streams: both streams into one file
};

struct RunOptions {
    std::wstring working_folder;  // empty: the test's own
    bool merge_streams = false;   // standard output and error into one file
    // When set: asked every millisecond while the exe runs; once true, the
    // exe is killed at once (TerminateProcess, exit code killed_exit_code).
    std::function<bool()> kill_when;
};

constexpr int killed_exit_code = 137;

// tolvi.exe, found beside the running test program.
std::wstring tolvi_exe();

// Runs tolvi.exe with `args` (each passed as one argument, quoted as the
// C runtime parses them) and waits for it (at most 60 s).
RunResult run_tolvi(const std::vector<std::wstring>& args, const RunOptions& options = {});

// Runs tolvi.exe with the options written as one string ("/m /f", split
// on blanks) followed by the paths.
RunResult tolvi(const std::wstring& options, const std::vector<std::wstring>& paths);

// Runs any program with a full command line, streams captured as above.
RunResult run_program(const std::wstring& exe, const std::vector<std::wstring>& args,
                      const RunOptions& options = {});

// The folder under which tests make their folders: TOLVI_TEST_ROOT when
// set (a drive letter mapped to a scratch folder under Wine), else TEMP.
std::wstring test_root();

// TOLVI_TEST_CD_ROOT: a second scratch volume with another file system,
// or empty when not set.
std::wstring cd_root();

// TOLVI_TEST_OTHER_FS_ROOT: a scratch drive on another file system, to
// which a move copies and deletes; empty when not set.
std::wstring other_fs_root();

// True when the tests run under Wine rather than Windows.
bool under_wine();

// A fresh, uniquely named folder (full path ending in a backslash),
// removed with everything in it when the holder goes out of scope.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& parent = test_root());
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& path() const { return path_; }
    // path() + name
    std::wstring operator/(const std::wstring& name) const { return path_ + name; }

private:
    std::wstring path_;
};

// Removes a folder tree, clearing read-only, hidden and system bits first.
void remove_tree(const std::wstring& folder);

// Seconds since 1601 (the file-time epoch) for a calendar-free fixed
// point: 2020-01-01 00:00:00 UTC.
constexpr std::uint64_t base_seconds = 13222310400ull;

// Creates (or replaces) `path` with `contents`; sets its last-write time
// to `last_write_seconds` (whole seconds since 1601; 0 leaves it) plus
// `extra_units` hundred-nanosecond units, then `attributes` (0 leaves
// them).
void make_file(const std::wstring& path, const std::string& contents,
               std::uint64_t last_write_seconds = base_seconds, DWORD attributes = 0,
               std::uint32_t extra_units = 0);

void make_folder(const std::wstring& path);

std::string read_file(const std::wstring& path);
bool file_exists(const std::wstring& path);
DWORD attributes_of(const std::wstring& path);
void set_attributes(const std::wstring& path, DWORD attributes);

// Last-write and creation times in whole seconds since 1601.
std::uint64_t last_write_seconds(const std::wstring& path);
std::uint64_t creation_seconds(const std::wstring& path);

// The name of `path` as stored on disk (letter case as stored).
std::wstring stored_name(const std::wstring& path);

// Names of the entries of `folder` (files and folders, not . and ..),
// sorted.
std::vector<std::wstring> list_folder(const std::wstring& folder);

// The short (8.3) form of an existing path, or empty.
std::wstring short_form(const std::wstring& path);

// `path` with its drive letter in lower case.
std::wstring lower_drive(std::wstring path);

// UTF-16 to UTF-8, for readable assertions.
std::string utf8(const std::wstring& text);

// The bytes the exe writes for `text` on redirected output (ANSI code page).
std::string ansi(const std::wstring& text);

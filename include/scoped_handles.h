// Holders that close a file handle or a file search when they go out of
// scope, so every early return releases what its step opened.
#pragma once

#include <windows.h>

#include <io.h>

#include <cerrno>
#include <cstdint>

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle()
    {
        if (is_open()) {
            CloseHandle(handle_);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool is_open() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// True when a search call that failed with `error` (its errno) only ran
// out of matches: no file matches, or no more. The C runtime gives every
// other failure of the platform's listing another errno (on Windows
// EINVAL, say for an access denied or a network share gone; Wine gives
// EACCES for a folder the user may not list).
inline bool is_end_of_listing(int error)
{
    return error == ENOENT;
}

class FileSearch {
public:
    // Starts a search for `pattern`; found() tells whether it matched and
    // entry() holds the current match.
    explicit FileSearch(const wchar_t* pattern)
        : search_(_wfindfirst64i32(pattern, &entry_)), error_(found() ? ENOENT : errno)
    {
    }
    ~FileSearch()
    {
        if (found()) {
            _findclose(search_);
        }
    }
    FileSearch(const FileSearch&) = delete;
    FileSearch& operator=(const FileSearch&) = delete;

    bool found() const { return search_ != -1; }
    const _wfinddata64i32_t& entry() const { return entry_; }
    // Moves to the next match; false when there are no more, or when the
    // listing failed.
    bool next()
    {
        if (_wfindnext64i32(search_, &entry_) == 0) {
            return true;
        }
        error_ = errno;
        return false;
    }
    // True when the search, at its start or at its last next(), failed
    // rather than ran out of matches: the folder could not be read.
    bool failed() const { return !is_end_of_listing(error_); }

private:
    _wfinddata64i32_t entry_{};
    std::intptr_t search_;
    int error_;
};

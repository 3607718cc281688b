// Holders that close a file handle or a file search when they go out of
// scope, so every early return releases what its step opened.
#pragma once

#include <windows.h>

#include <io.h>

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

class FileSearch {
public:
    // Starts a search for `pattern`; found() tells whether it matched and
    // entry() holds the current match.
    explicit FileSearch(const wchar_t* pattern) : search_(_wfindfirst64i32(pattern, &entry_)) {}
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
    // Moves to the next match; false when there are no more.
    bool next() { return _wfindnext64i32(search_, &entry_) == 0; }

private:
    _wfinddata64i32_t entry_{};
    std::intptr_t search_;
};

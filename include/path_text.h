// Small helpers for full paths and their parts, bounded by the classic
// path buffers so that an overlong path is refused, never truncated.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

constexpr std::size_t full_path_buffer = 260;

// The full path of `path` (current folder and ".." applied). False when
// it cannot be made or does not fit the buffer.
bool make_full_path(const std::wstring& path, std::wstring& full);

// A full file path split into its folder (drive and folder, ending in a
// backslash) and its name (file name and extension). False when a part
// does not fit its buffer.
bool split_full_path(const std::wstring& full, std::wstring& folder, std::wstring& name);

// The form of `path` that platform calls accept at any length: `\\?\`
// (or `\\?\UNC\`) beyond the classic limit, else `path` itself.
std::wstring platform_path(const std::wstring& path);

// True when `a` and `b` are the same text, letter case counting.
bool same_text(const std::wstring& a, const std::wstring& b);

// True when `a` and `b` are the same text ignoring letter case.
bool same_text_ignoring_case(const std::wstring& a, const std::wstring& b);

// Fills `form` with what a path-form call (short, long or full path;
// taking the path, a buffer and its size) gives for `path`; false when
// the call fails.
template <typename PathFormCall>
bool path_form(PathFormCall call, const std::wstring& path, std::wstring& form)
{
    const DWORD size = call(path.c_str(), nullptr, 0);
    if (size == 0) {
        return false;
    }
    std::vector<wchar_t> buffer(size);
    const DWORD length = call(path.c_str(), buffer.data(), size);
    if (length == 0 || length >= size) {
        return false;
    }
    form.assign(buffer.data(), length);
    return true;
}

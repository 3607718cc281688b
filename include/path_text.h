// Small helpers for full paths and their parts, bounded by the classic
// path buffers so that an overlong path is refused, never truncated.
#pragma once

#include <string>

constexpr std::size_t full_path_buffer = 260;

// The full path of `path` (current folder and ".." applied). False when
// it cannot be made or does not fit the buffer.
bool make_full_path(const std::wstring& path, std::wstring& full);

// A full file path split into its folder (drive and folder, ending in a
// backslash) and its name (file name and extension). False when a part
// does not fit its buffer.
bool split_full_path(const std::wstring& full, std::wstring& folder, std::wstring& name);

// True when `a` and `b` are the same text, letter case counting.
bool same_text(const std::wstring& a, const std::wstring& b);

// True when `a` and `b` are the same text ignoring letter case.
bool same_text_ignoring_case(const std::wstring& a, const std::wstring& b);

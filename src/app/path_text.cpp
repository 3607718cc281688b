#include "path_text.h"

#include <cstdlib>
#include <cwchar>

bool make_full_path(const std::wstring& path, std::wstring& full)
{
    wchar_t buffer[full_path_buffer];
    if (_wfullpath(buffer, path.c_str(), full_path_buffer) == nullptr) {
        return false;
    }
    full = buffer;
    return true;
}

bool split_full_path(const std::wstring& full, std::wstring& folder, std::wstring& name)
{
    wchar_t drive[3];
    wchar_t dir[256];
    wchar_t file[256];
    wchar_t ext[256];
    if (_wsplitpath_s(full.c_str(), drive, 3, dir, 256, file, 256, ext, 256) != 0) {
        return false;
    }
    folder = std::wstring(drive) + dir;
    name = std::wstring(file) + ext;
    return true;
}

bool same_text(const std::wstring& a, const std::wstring& b)
{
    return a == b;
}

bool same_text_ignoring_case(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

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

namespace {

constexpr std::size_t part_buffer = 256;

// The runtime's split reports a part that does not fit its buffer through
// the invalid-parameter handler, which may end the process; the parts are
// measured first, the way the split cuts them, so such a path is refused.
bool parts_fit(const std::wstring& full)
{
    const std::size_t drive_end = full.size() >= 2 && full[1] == L':' ? 2 : 0;
    const std::size_t separator = full.find_last_of(L"\\/");
    const std::size_t name_start =
        separator == std::wstring::npos || separator < drive_end ? drive_end : separator + 1;
    const std::size_t dot = full.find_last_of(L'.');
    const std::size_t ext_start = dot == std::wstring::npos || dot < name_start ? full.size() : dot;
    return name_start - drive_end < part_buffer && ext_start - name_start < part_buffer &&
           full.size() - ext_start < part_buffer;
}

} // namespace

bool split_full_path(const std::wstring& full, std::wstring& folder, std::wstring& name)
{
    if (!parts_fit(full)) {
        return false;
    }
    wchar_t drive[3];
    wchar_t dir[part_buffer];
    wchar_t file[part_buffer];
    wchar_t ext[part_buffer];
    if (_wsplitpath_s(full.c_str(), drive, 3, dir, part_buffer, file, part_buffer, ext,
                      part_buffer) != 0) {
        return false;
    }
    folder = std::wstring(drive) + dir;
    name = std::wstring(file) + ext;
    return true;
}

std::wstring platform_path(const std::wstring& path)
{
    if (path.size() < MAX_PATH || path.compare(0, 4, L"\\\\?\\") == 0 ||
        path.compare(0, 4, L"\\\\.\\") == 0) {
        return path;
    }
    if (path.compare(0, 2, L"\\\\") == 0) {
        return L"\\\\?\\UNC\\" + path.substr(2);
    }
    return L"\\\\?\\" + path;
}

bool same_text(const std::wstring& a, const std::wstring& b)
{
    return a == b;
}

bool same_text_ignoring_case(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

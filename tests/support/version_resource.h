// Reads the version resource of an executable back, as Windows shows it
// under the file's properties. Needs the platform's version library.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct VersionResource {
    bool found = false;
    std::wstring product_name;
    std::wstring product_version;
    std::wstring file_version;
    // The binary file version of the fixed part: major.minor.build.revision.
    WORD fixed[4] = {0, 0, 0, 0};
};

inline std::wstring version_string(const std::vector<BYTE>& block, const wchar_t* name)
{
    // The first translation of the resource names its string table.
    struct Translation {
        WORD language;
        WORD code_page;
    };
    Translation* translations = nullptr;
    UINT size = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translations), &size) ||
        size < sizeof(Translation)) {
        return std::wstring();
    }
    wchar_t query[64];
    swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\%ls", translations[0].language,
             translations[0].code_page, name);
    wchar_t* text = nullptr;
    if (!VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&text), &size) ||
        text == nullptr) {
        return std::wstring();
    }
    return std::wstring(text);
}

inline VersionResource read_version_resource(const std::wstring& exe)
{
    VersionResource result;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    if (size == 0) {
        return result;
    }
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(exe.c_str(), 0, size, block.data())) {
        return result;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixed_size = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size) ||
        fixed_size < sizeof(VS_FIXEDFILEINFO)) {
        return result;
    }
    result.found = true;
    result.fixed[0] = HIWORD(fixed->dwFileVersionMS);
    result.fixed[1] = LOWORD(fixed->dwFileVersionMS);
    result.fixed[2] = HIWORD(fixed->dwFileVersionLS);
    result.fixed[3] = LOWORD(fixed->dwFileVersionLS);
    result.product_name = version_string(block, L"ProductName");
    result.product_version = version_string(block, L"ProductVersion");
    result.file_version = version_string(block, L"FileVersion");
    return result;
}

#include "e2e_support.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwctype>
#include <sstream>
#include <stdexcept>

namespace {

std::wstring folder_of(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

// Quotes one argument so that the C runtime's parser gives it back as is.
std::wstring quote_argument(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

HANDLE open_capture(const std::wstring& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

FILETIME to_filetime(std::uint64_t units)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(units & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(units >> 32);
    return time;
}

std::uint64_t seconds_of(const FILETIME& time)
{
    return ((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10000000u;
}

void check(bool ok, const char* what)
{
    if (!ok) {
        throw std::runtime_error(std::string(what) + " failed, error " + std::to_string(GetLastError()));
    }
}

} // namespace

namespace {
std::string narrow(const std::wstring& text, UINT code_page)
{
    const int size = WideCharToMultiByte(code_page, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(code_page, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}
} // namespace

std::string utf8(const std::wstring& text)
{
    return narrow(text, CP_UTF8);
}

std::string ansi(const std::wstring& text)
{
    return narrow(text, CP_ACP);
}

std::wstring short_form(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? L"" : std::wstring(buffer, length);
}

std::wstring lower_drive(std::wstring path)
{
    path[0] = static_cast<wchar_t>(towlower(path[0]));
    return path;
}

bool under_wine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::wstring tolvi_exe()
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return folder_of(self) + L"tolvi.exe";
}

std::wstring test_root()
{
    wchar_t value[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"TOLVI_TEST_ROOT", value, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        length = GetTempPathW(MAX_PATH, value);
    }
    std::wstring root(value, length);
    if (root.empty() || root.back() != L'\\') {
        root += L'\\';
    }
    return root;
}

namespace {
std::wstring variable(const wchar_t* name)
{
    wchar_t value[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? L"" : std::wstring(value, length);
}
} // namespace

std::wstring cd_root()
{
    return variable(L"TOLVI_TEST_CD_ROOT");
}

std::wstring other_fs_root()
{
    return variable(L"TOLVI_TEST_OTHER_FS_ROOT");
}

RunResult run_program(const std::wstring& exe, const std::vector<std::wstring>& args,
                      const RunOptions& options)
{
    ScratchFolder capture;
    const std::wstring out_path = capture / L"out.bin";
    const std::wstring err_path = capture / L"err.bin";
    HANDLE out = open_capture(out_path);
    HANDLE err = options.merge_streams ? out : open_capture(err_path);
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);

    std::wstring command_line = quote_argument(exe);
    for (const std::wstring& arg : args) {
        command_line += L' ';
        command_line += quote_argument(arg);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const std::wstring folder = options.working_folder.empty() ? test_root() : options.working_folder;
    // Under load Wine now and then fails to start a program at all; one
    // more try tells that apart from a program that really cannot start.
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 2 && !started; ++attempt) {
        if (attempt > 0) {
            Sleep(500);
        }
        started = CreateProcessW(exe.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0,
                                 nullptr, folder.c_str(), &startup, &process);
    }
    RunResult result;
    if (started) {
        if (options.kill_when) {
            for (int waited = 0; waited < 60000 &&
                                 WaitForSingleObject(process.hProcess, 1) == WAIT_TIMEOUT;
                 ++waited) {
                if (options.kill_when()) {
                    TerminateProcess(process.hProcess, killed_exit_code);
                    break;
                }
            }
        }
        if (WaitForSingleObject(process.hProcess, 60000) == WAIT_TIMEOUT) {
            TerminateProcess(process.hProcess, 999);
            WaitForSingleObject(process.hProcess, INFINITE);
        }
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.exit_code = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(in);
    CloseHandle(out);
    if (!options.merge_streams) {
        CloseHandle(err);
    }
    if (options.merge_streams) {
        result.both = read_file(out_path);
    } else {
        result.out = read_file(out_path);
        result.err = read_file(err_path);
    }
    return result;
}

RunResult run_tolvi(const std::vector<std::wstring>& args, const RunOptions& options)
{
    return run_program(tolvi_exe(), args, options);
}

RunResult tolvi(const std::wstring& options, const std::vector<std::wstring>& paths)
{
    std::vector<std::wstring> args;
    std::wistringstream words(options);
    for (std::wstring word; words >> word;) {
        args.push_back(word);
    }
    args.insert(args.end(), paths.begin(), paths.end());
    return run_tolvi(args);
}

ScratchFolder::ScratchFolder(const std::wstring& parent)
{
    static std::atomic<unsigned> counter{0};
    for (;;) {
        path_ = parent + L"t" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::to_wstring(counter++) + L"\\";
        if (CreateDirectoryW(path_.c_str(), nullptr)) {
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            throw std::runtime_error("cannot create scratch folder " + utf8(path_));
        }
    }
}

ScratchFolder::~ScratchFolder()
{
    remove_tree(path_);
}

void remove_tree(const std::wstring& folder)
{
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\') {
        base += L'\\';
    }
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((base + L"*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = base + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                remove_tree(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    SetFileAttributesW(base.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(base.c_str());
}

void make_file(const std::wstring& path, const std::string& contents,
               std::uint64_t last_write_seconds_value, DWORD attributes, std::uint32_t extra_units)
{
    if (file_exists(path)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    check(file != INVALID_HANDLE_VALUE, "CreateFileW");
    DWORD written = 0;
    WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    if (last_write_seconds_value != 0) {
        const FILETIME time = to_filetime(last_write_seconds_value * 10000000u + extra_units);
        check(SetFileTime(file, nullptr, nullptr, &time) != 0, "SetFileTime");
    }
    CloseHandle(file);
    if (attributes != 0) {
        set_attributes(path, attributes);
    }
}

void make_folder(const std::wstring& path)
{
    check(CreateDirectoryW(path.c_str(), nullptr) != 0, "CreateDirectoryW");
}

std::string read_file(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    std::string contents;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        contents.append(buffer, got);
    }
    CloseHandle(file);
    return contents;
}

bool file_exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD attributes_of(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str());
}

void set_attributes(const std::wstring& path, DWORD attributes)
{
    check(SetFileAttributesW(path.c_str(), attributes) != 0, "SetFileAttributesW");
}

namespace {
FILETIME time_of(const std::wstring& path, bool creation)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    check(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != 0, "GetFileAttributesExW");
    return creation ? data.ftCreationTime : data.ftLastWriteTime;
}
} // namespace

std::uint64_t last_write_seconds(const std::wstring& path)
{
    return seconds_of(time_of(path, false));
}

std::uint64_t creation_seconds(const std::wstring& path)
{
    return seconds_of(time_of(path, true));
}

std::wstring stored_name(const std::wstring& path)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(path.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return L"<missing>";
    }
    FindClose(search);
    return entry.cFileName;
}

std::vector<std::wstring> list_folder(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..") {
                names.push_back(name);
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    return names;
}

#include "host_shell.h"

#include "e2e_support.h"

#include <atomic>
#include <utility>

std::string unix_path(std::wstring path)
{
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unix_name = reinterpret_cast<UnixName>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    if (unix_name == nullptr) {
        return "";
    }
    if (path.size() > 3 && path.back() == L'\\') {
        path.pop_back();
    }
    char* name = unix_name(path.c_str());
    const std::string result = name != nullptr ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

std::string quoted(const std::string& text)
{
    return "'" + text + "'";
}

// Wine starts a host program detached and cannot wait for it, so the
// script writes its status to a file that is awaited here.
int run_host_script(const std::string& script)
{
    static std::atomic<unsigned> counter{0};
    const std::wstring base = test_root() + L"host_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                              std::to_wstring(counter++);
    const std::wstring status = base + L".status";
    const std::string unix_base = unix_path(base + L".sh");
    if (unix_base.empty()) {
        return -1;
    }
    const std::string unix_status = unix_path(status);
    make_file(base + L".sh", script + "\necho $? > '" + unix_status + ".tmp' && mv '" + unix_status +
                                 ".tmp' '" + unix_status + "'\n");
    std::wstring command = L"/bin/sh \"" + std::wstring(unix_base.begin(), unix_base.end()) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    int result = -1;
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        for (int wait = 0; wait < 600 && !file_exists(status); ++wait) {
            Sleep(50);
        }
        if (file_exists(status)) {
            result = std::stoi(read_file(status));
        }
    }
    DeleteFileW(status.c_str());
    DeleteFileW((base + L".sh").c_str());
    return result;
}

HostChange::HostChange(const std::string& apply, std::string undo)
    : undo_(std::move(undo)), active_(run_host_script(apply) == 0)
{
}

HostChange::~HostChange()
{
    if (active_) {
        run_host_script(undo_);
    }
}

HostChange immutable(const std::wstring& path)
{
    const std::string target = quoted(unix_path(path));
    return HostChange("chattr +i " + target, "chattr -i " + target);
}

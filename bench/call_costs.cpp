// Times the single platform calls that the per-file decision makes, each
// on every file of a folder, and prints the median and the mean per call in
// microseconds. Benchmark use only.
//
//   call_costs SOURCE_PATTERN DEST_FOLDER
//
// DEST_FOLDER ends with a backslash and holds a copy of every source file;
// the copies are replaced (CopyFileW) in the last measurement.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

double now_us()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

HANDLE open_for_times(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

// Runs one call on every name and prints its median and mean time.
void time_call(const char* label, const std::vector<std::wstring>& names,
               const std::function<bool(const std::wstring&)>& call)
{
    std::vector<double> times;
    int failures = 0;
    for (const std::wstring& name : names) {
        const double start = now_us();
        if (!call(name)) {
            ++failures;
        }
        times.push_back(now_us() - start);
    }
    double total = 0;
    for (double value : times) {
        total += value;
    }
    std::sort(times.begin(), times.end());
    std::printf("| %s | %.1f | %.1f | %d |\n", label, times[times.size() / 2],
                total / static_cast<double>(times.size()), failures);
}

} // namespace

int wmain(int argc, wchar_t* argv[])
{
    if (argc != 3) {
        return 2;
    }
    const std::wstring pattern = argv[1];
    const std::wstring dest_dir = argv[2];
    const std::wstring source_dir = pattern.substr(0, pattern.find_last_of(L'\\') + 1);

    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return 1;
    }
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            names.push_back(entry.cFileName);
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);

    std::printf("%zu files; microseconds per call\n\n", names.size());
    std::printf("| Call | median | mean | failed |\n|---|---:|---:|---:|\n");
    time_call("GetFileAttributesW, source", names, [&](const std::wstring& name) {
        return GetFileAttributesW((source_dir + name).c_str()) != INVALID_FILE_ATTRIBUTES;
    });
    time_call("GetFileAttributesW, existing destination", names, [&](const std::wstring& name) {
        return GetFileAttributesW((dest_dir + name).c_str()) != INVALID_FILE_ATTRIBUTES;
    });
    time_call("GetFileAttributesW, missing name in the destination folder", names,
              [&](const std::wstring& name) {
                  return GetFileAttributesW((dest_dir + name + L".new").c_str()) ==
                         INVALID_FILE_ATTRIBUTES;
              });
    time_call("CreateFileW + GetFileTime + CloseHandle, source", names,
              [&](const std::wstring& name) {
                  const HANDLE file = open_for_times(source_dir + name);
                  if (file == INVALID_HANDLE_VALUE) {
                      return false;
                  }
                  FILETIME creation, write;
                  GetFileTime(file, &creation, nullptr, &write);
                  CloseHandle(file);
                  return true;
              });
    time_call("CreateFileW + GetFileTime + CloseHandle, destination", names,
              [&](const std::wstring& name) {
                  const HANDLE file = open_for_times(dest_dir + name);
                  if (file == INVALID_HANDLE_VALUE) {
                      return false;
                  }
                  FILETIME write;
                  GetFileTime(file, nullptr, nullptr, &write);
                  CloseHandle(file);
                  return true;
              });
    std::vector<HANDLE> handles;
    for (const std::wstring& name : names) {
        handles.push_back(open_for_times(source_dir + name));
    }
    std::size_t next = 0;
    time_call("GetFileInformationByHandle (open handle)", names, [&](const std::wstring&) {
        BY_HANDLE_FILE_INFORMATION info;
        return GetFileInformationByHandle(handles[next++], &info) != 0;
    });
    next = 0;
    time_call("GetFileInformationByHandleEx FileBasicInfo (open handle)", names,
              [&](const std::wstring&) {
                  FILE_BASIC_INFO info;
                  return GetFileInformationByHandleEx(handles[next++], FileBasicInfo, &info,
                                                      sizeof info) != 0;
              });
    for (HANDLE handle : handles) {
        CloseHandle(handle);
    }
    time_call("FindFirstFileW + FindClose, destination", names, [&](const std::wstring& name) {
        WIN32_FIND_DATAW found;
        const HANDLE one = FindFirstFileW((dest_dir + name).c_str(), &found);
        if (one == INVALID_HANDLE_VALUE) {
            return false;
        }
        FindClose(one);
        return true;
    });
    time_call("CopyFileW over an existing destination", names, [&](const std::wstring& name) {
        return CopyFileW((source_dir + name).c_str(), (dest_dir + name).c_str(), FALSE) != 0;
    });
    return 0;
}

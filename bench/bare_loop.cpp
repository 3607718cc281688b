// The floor for a tool that lists files and hands each to one platform
// call: lists the files matching a pattern and copies (CopyFileW, an
// existing destination replaced) or moves (MoveFileW) each into a folder.
// No checks, no output. Benchmark use only.
//
//   bare_loop copy|move SOURCE_PATTERN DEST_FOLDER\
//
// Exit code: 0 when every call succeeded, 1 otherwise, 2 on bad usage.
#include <windows.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t* argv[])
{
    if (argc != 4) {
        return 2;
    }
    const bool move = std::wcscmp(argv[1], L"move") == 0;
    const std::wstring pattern = argv[2];
    const std::wstring dest_dir = argv[3];
    const std::wstring source_dir = pattern.substr(0, pattern.find_last_of(L'\\') + 1);

    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return 1;
    }
    int exit_code = 0;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        const std::wstring from = source_dir + entry.cFileName;
        const std::wstring to = dest_dir + entry.cFileName;
        const BOOL done = move ? MoveFileW(from.c_str(), to.c_str())
                               : CopyFileW(from.c_str(), to.c_str(), FALSE);
        if (!done) {
            exit_code = 1;
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return exit_code;
}

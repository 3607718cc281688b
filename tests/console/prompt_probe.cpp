// Asks the questions given on the command line through the real Yes/No/All
// prompt and shows, after each answer, what the prompt returned and the
// state of its question flag:
//
//   prompt_probe [/copy] [/hold] [/conout] question...
//
// The flag starts false, as the overwrite question's flag does, or true
// with /copy, as the copy question's does. All questions share it, and, as
// the engine does, a question is asked only while the flag still has its
// starting value; a question not asked shows "skipped". With /hold the
// probe waits for one more key after each answer before it writes the
// result, so the screen can be inspected just as the prompt left it. With
// /conout the probe writes to its console's screen buffer whatever its
// standard handles are, as a program started on a pseudo-console gets
// handles that are not console handles. The probe installs the tool's
// console control handler, as the tool does, which ends it at a question.
#include "console_writer.h"
#include "control_handler.h"
#include "prompt.h"
#include "start_up.h"

#include <windows.h>

#include <conio.h>

#include <cwchar>
#include <string>

namespace {

std::wstring digit(bool value)
{
    return value ? L"1" : L"0";
}

} // namespace

int wmain(int argc, wchar_t* argv[])
{
    bool flag = false;
    bool hold = false;
    int first = 1;
    for (; first < argc && argv[first][0] == L'/'; ++first) {
        if (std::wcscmp(argv[first], L"/copy") == 0) {
            flag = true;
        } else if (std::wcscmp(argv[first], L"/hold") == 0) {
            hold = true;
        } else if (std::wcscmp(argv[first], L"/conout") == 0) {
            HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                        nullptr);
            SetStdHandle(STD_OUTPUT_HANDLE, screen);
            SetStdHandle(STD_ERROR_HANDLE, screen);
        }
    }
    probe_console();
    install_control_handler();

    const bool start = flag;
    for (int i = first; i < argc; ++i) {
        if (flag != start) {
            console_write(L"skipped flag=" + digit(flag), false, true);
            continue;
        }
        const bool answer = prompt_yes_no_all(argv[i], flag) == PromptAnswer::yes;
        if (hold) {
            _getwch();
        }
        console_write(L"answer=" + digit(answer) + L" flag=" + digit(flag), false, true);
    }
    return 0;
}

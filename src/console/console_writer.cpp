#include "console_writer.h"

#include "message_catalog.h"
#include "run_settings.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

// Converts to the run's code page and inserts the bytes into the narrow
// stream. A text whose size cannot be computed is dropped.
void write_redirected(const std::wstring& text, bool to_stderr)
{
    const auto code_page = static_cast<UINT>(settings.utf8_console);
    const int size = WideCharToMultiByte(code_page, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return;
    }
    std::vector<char> bytes(static_cast<std::size_t>(size));
    WideCharToMultiByte(code_page, 0, text.c_str(), -1, bytes.data(), size, nullptr, nullptr);
    if (to_stderr) {
        // Both streams may go to one file: what standard output still
        // holds in its buffer is written first, and the error text at
        // once (the runtime may buffer a redirected standard error), so
        // the lines keep the order in which they were written.
        std::fflush(stdout);
        std::fputs(bytes.data(), stderr);
        std::fflush(stderr);
    } else {
        std::fputs(bytes.data(), stdout);
        // Each finished line is written out at once, so the log of a run
        // that is killed holds every line it finished; the start of a
        // report line waits for its end.
        if (text.find(L'\n') != std::wstring::npos) {
            std::fflush(stdout);
        }
    }
}

} // namespace

void console_write(std::wstring text, bool to_stderr, bool add_newline)
{
    if (add_newline) {
        text += L'\n';
    }
    HANDLE console = to_stderr ? settings.stderr_console : settings.stdout_console;
    if (console != nullptr) {
        DWORD written = 0;
        WriteConsoleW(console, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    write_redirected(text, to_stderr);
}

void set_cursor_visible(bool visible)
{
    CONSOLE_CURSOR_INFO cursor{};
    cursor.dwSize = settings.cursor_size;
    cursor.bVisible = visible ? TRUE : FALSE;
    SetConsoleCursorInfo(GetStdHandle(STD_OUTPUT_HANDLE), &cursor);
}

void write_error(const std::wstring& subject, MessageId id)
{
    console_write(subject + std::wstring(message_text(id)), true, true);
}

void write_message(MessageId id)
{
    write_error(std::wstring(), id);
}

#include "start_up.h"

#include "console_writer.h"
#include "run_settings.h"

#include <cstdio>
#include <cwchar>

namespace {

constexpr UINT code_page_shift_jis = 932;
constexpr UINT code_page_utf8 = 65001;
constexpr LANGID ui_language_japanese = 0x0411;

// A handle counts as a console only when the console accepts it;
// a redirected or missing handle fails GetConsoleMode.
HANDLE console_or_none(DWORD std_handle)
{
    HANDLE handle = GetStdHandle(std_handle);
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) ? handle : nullptr;
}

} // namespace

Language choose_language(UINT output_code_page, LANGID ui_language)
{
    const bool console_shows_japanese =
        output_code_page == code_page_shift_jis || output_code_page == code_page_utf8;
    return console_shows_japanese && ui_language == ui_language_japanese ? language_japanese
                                                                        : language_english;
}

void probe_console()
{
    settings.stdout_console = console_or_none(STD_OUTPUT_HANDLE);
    if (settings.stdout_console != nullptr) {
        CONSOLE_CURSOR_INFO cursor{};
        if (GetConsoleCursorInfo(settings.stdout_console, &cursor)) {
            settings.cursor_size = cursor.dwSize;
        } else {
            settings.cursor_size = 25;  // the console's own default size
        }
    }
    settings.stderr_console = console_or_none(STD_ERROR_HANDLE);

    const UINT output_code_page = GetConsoleOutputCP();
    settings.language = choose_language(output_code_page, GetUserDefaultUILanguage());
    if (output_code_page == code_page_utf8) {
        settings.utf8_console = static_cast<std::int32_t>(code_page_utf8);
    }
}

const char* version_banner()
{
    return " Tolvi 2.01 64bit - " __DATE__ " " __TIME__ " ";
}

bool serve_special_argument(const wchar_t* arg)
{
    if (_wcsicmp(arg, L"/?") == 0) {
        console_write(std::wstring(message_text(msg_usage)), false, false);
        return true;
    }
    if (_wcsicmp(arg, L"/void") == 0) {
        return true;
    }
    if (_wcsicmp(arg, L"/ver") == 0) {
        std::fputs("\n", stdout);
        std::fputs(version_banner(), stdout);
        std::fputs("\n", stdout);
        std::fflush(stdout);
        return true;
    }
    return false;
}

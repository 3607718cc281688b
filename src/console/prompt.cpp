#include "prompt.h"

#include "console_writer.h"
#include "exit_codes.h"
#include "run_settings.h"

#include <windows.h>

#include <conio.h>

#include <cstdlib>

namespace {

constexpr wchar_t key_enter = 0x0D;
constexpr wchar_t key_ctrl_c = 0x03;
constexpr wchar_t key_backspace = 0x08;
// _getwch gives this when it cannot read the console at all.
constexpr wchar_t key_unreadable = 0xFFFF;

const wchar_t suffix[] = L" (Yes/No/All) ";

// Removes the shown letter: back, blank, back.
void erase_letter()
{
    _putwch(L'\b');
    _putwch(L' ');
    _putwch(L'\b');
}

void show_letter(wchar_t letter, PromptChoice& shown)
{
    if (shown != PromptChoice::none) {
        _putwch(L'\b');
    }
    _putwch(letter);
    shown = letter == L'y' ? PromptChoice::yes : letter == L'n' ? PromptChoice::no : PromptChoice::all;
}

// Width of the question on the screen, in the columns of the system's
// ANSI code page: a character stored in two bytes there takes two columns.
int ansi_width(const std::wstring& text)
{
    return WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                               nullptr, nullptr);
}

void move_cursor(HANDLE console, int row)
{
    COORD position{0, static_cast<SHORT>(row < 0 ? 0 : row)};
    SetConsoleCursorPosition(console, position);
}

// Blanks every row the question took and leaves the cursor at column 0 of
// the first, so the next line of output takes its place.
void erase_question(const std::wstring& shown_text)
{
    HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(console, &info) || info.dwSize.X < 1) {
        return;
    }
    const int screen_width = info.dwSize.X;
    const int column = info.dwCursorPosition.X;
    const int row = info.dwCursorPosition.Y;

    move_cursor(console, row);
    console_write(std::wstring(static_cast<std::size_t>(column), L' '), true, false);
    const int above = rows_above(ansi_width(shown_text), screen_width);
    for (int r = row - 1; r >= row - above && r >= 0; --r) {
        move_cursor(console, r);
        console_write(std::wstring(static_cast<std::size_t>(screen_width), L' '), true, false);
    }
    move_cursor(console, row - above);
}

// While the question waits, a Ctrl+C that arrives as a signal rather than
// as a key (Ctrl+Break always; Ctrl+C from a terminal under Wine) reaches
// the run's control handler, which ends the process as the typed Ctrl+C
// does. One that came before stops the run here, without a question.
bool begin_waiting()
{
    return InterlockedCompareExchange(&settings.stop_state, question_waiting, run_going) ==
           run_going;
}

// The control handler has taken the state to end the process: this thread
// only waits for that.
[[noreturn]] void wait_for_the_end()
{
    for (;;) {
        Sleep(INFINITE);
    }
}

// The answer is in: the run goes on, unless the control handler took the
// state first.
void end_waiting()
{
    if (InterlockedCompareExchange(&settings.stop_state, run_going, question_waiting) !=
        question_waiting) {
        wait_for_the_end();
    }
}

// Ctrl+C typed as a key: the process ends here with the run's exit code,
// unless the control handler took the state first.
[[noreturn]] void end_run_at_question()
{
    if (InterlockedCompareExchange(&settings.stop_state, run_ending, question_waiting) ==
        question_waiting) {
        std::exit(interrupted_exit_code());
    }
    wait_for_the_end();
}

} // namespace

int interrupted_exit_code()
{
    return settings.exit_code > exit_not_all_done ? settings.exit_code : exit_not_all_done;
}

wchar_t fold_key(wchar_t key)
{
    return key >= L'A' && key <= L'Z' ? static_cast<wchar_t>(key - L'A' + L'a') : key;
}

bool is_special_key_prefix(wchar_t folded)
{
    return folded == 0 || folded == 0xE0;
}

KeyAction key_action(wchar_t folded, PromptChoice shown)
{
    switch (folded) {
    case L'y':
        return KeyAction::show_yes;
    case L'n':
        return KeyAction::show_no;
    case L'a':
        return KeyAction::show_all;
    case key_enter:
        return shown == PromptChoice::none ? KeyAction::ignore : KeyAction::confirm;
    case key_ctrl_c:
        return KeyAction::interrupt;
    case key_backspace:
        return KeyAction::erase;
    case key_unreadable:
        return KeyAction::give_up;
    default:
        return is_special_key_prefix(folded) ? KeyAction::erase : KeyAction::erase_and_ring;
    }
}

int rows_above(int width, int screen_width)
{
    return screen_width < 1 ? 0 : width / screen_width;
}

PromptAnswer prompt_yes_no_all(std::wstring question, bool& question_flag)
{
    if (settings.stderr_console == nullptr) {
        return PromptAnswer::not_asked;
    }
    if (!begin_waiting()) {
        return PromptAnswer::no;
    }
    question += suffix;
    console_write(question, true, false);

    PromptChoice shown = PromptChoice::none;
    for (;;) {
        const wchar_t key = fold_key(static_cast<wchar_t>(_getwch()));
        if (is_special_key_prefix(key)) {
            _getwch();
        }
        switch (key_action(key, shown)) {
        case KeyAction::show_yes:
        case KeyAction::show_no:
        case KeyAction::show_all:
            show_letter(key, shown);
            break;
        case KeyAction::ignore:
            break;
        case KeyAction::interrupt:
            end_run_at_question();
        case KeyAction::erase_and_ring:
            if (shown != PromptChoice::none) {
                erase_letter();
            }
            shown = PromptChoice::none;
            _putwch(L'\a');
            break;
        case KeyAction::erase:
            if (shown != PromptChoice::none) {
                erase_letter();
            }
            shown = PromptChoice::none;
            break;
        case KeyAction::give_up:
            // Nothing could be answered: the file is left as No leaves it,
            // but nobody chose that.
            shown = PromptChoice::none;
            [[fallthrough]];
        case KeyAction::confirm:
            end_waiting();
            erase_question(question + L" ");
            if (shown == PromptChoice::all) {
                question_flag = !question_flag;
            }
            return shown == PromptChoice::none ? PromptAnswer::not_asked
                   : shown == PromptChoice::no ? PromptAnswer::no
                                               : PromptAnswer::yes;
        }
    }
}

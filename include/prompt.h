// The Yes/No/All question at the console.
#pragma once

#include <string>

// The choice whose letter stands after the question.
enum class PromptChoice { none, yes, no, all };

// What one key does to the question.
enum class KeyAction {
    show_yes,        // "y": the letter y replaces what is shown
    show_no,         // "n"
    show_all,        // "a"
    confirm,         // Enter with a letter shown
    ignore,          // Enter with nothing shown
    interrupt,       // Ctrl+C: the process ends at once with the run's exit code
    erase,           // Backspace, or a special key (prefix 0 or 0xE0)
    erase_and_ring,  // any other key
    give_up,         // no key can be read from the console: not asked
};

// Folds ASCII capitals to small letters and leaves every other code alone.
wchar_t fold_key(wchar_t key);

// True for the codes that announce a second code (function, arrow and
// other special keys); the second code is read and dropped.
bool is_special_key_prefix(wchar_t folded);

// The action of one folded key, given what is shown now.
KeyAction key_action(wchar_t folded, PromptChoice shown);

// The answer to one question: All answers yes.
enum class PromptAnswer { yes, no, not_asked };

// Asks `question` followed by " (Yes/No/All) " on the standard error
// console and waits for y, n or a confirmed with Enter. not_asked when
// standard error is not a console or no key can be read; no, without a
// question, once the run is interrupted. All inverts `question_flag`. The
// question is erased afterwards and the cursor left at column 0 of the row
// where it began. While it waits, settings.stop_state is question_waiting.
PromptAnswer prompt_yes_no_all(std::wstring question, bool& question_flag);

// The exit code of a run ended at a question: the files before it keep the
// outcome they earned, and this one is left alone by choice (at least 1).
int interrupted_exit_code();

// Rows above the cursor's row that a text of `width` columns, started at
// column 0, took on a screen `screen_width` columns wide.
int rows_above(int width, int screen_width);

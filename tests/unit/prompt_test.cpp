// The key steps of the Yes/No/All question. The console tests drive the
// whole question at a terminal under Wine; these tables cover what Wine
// cannot deliver from a terminal: a lone Esc (swallowed, so its erase and
// bell are never seen), the bell itself (not passed on to the terminal),
// Ctrl+C as the key 0x03 (it arrives as a signal, which the run's control
// handler takes while the question waits), and _getwch failing with 0xFFFF.
#include "prompt.h"

#include <gtest/gtest.h>

namespace {

struct FoldRow {
    wchar_t key;
    wchar_t folded;
};

TEST(PromptKeys, FoldTurnsOnlyAsciiCapitalsToSmallLetters)
{
    const FoldRow rows[] = {
        {L'Y', L'y'},     {L'N', L'n'},     {L'A', L'a'},     {L'Z', L'z'},
        {L'y', L'y'},     {L'@', L'@'},     {L'[', L'['},     {L'\r', L'\r'},
        {0x00C0, 0x00C0}, {0x00E0, 0x00E0}, {0x65E5, 0x65E5}, {0xFFFF, 0xFFFF},
    };
    for (const FoldRow& row : rows) {
        EXPECT_EQ(fold_key(row.key), row.folded) << std::hex << static_cast<int>(row.key);
    }
}

TEST(PromptKeys, SpecialKeyPrefixIsZeroOrE0)
{
    EXPECT_TRUE(is_special_key_prefix(0));
    // Also a typed U+00E0: the key after it is dropped.
    EXPECT_TRUE(is_special_key_prefix(0x00E0));
    for (wchar_t key : {0x00C0, 0x00DF, 0x00E1, 0x0048, 0x004B, 0x001B, 0xFFFF}) {
        EXPECT_FALSE(is_special_key_prefix(static_cast<wchar_t>(key))) << std::hex << key;
    }
}

struct ActionRow {
    wchar_t key;
    PromptChoice shown;
    KeyAction action;
};

TEST(PromptKeys, ActionOfEachKeyInEachState)
{
    using C = PromptChoice;
    using A = KeyAction;
    const ActionRow rows[] = {
        {L'y', C::none, A::show_yes},
        {L'y', C::all, A::show_yes},
        {L'n', C::yes, A::show_no},
        {L'n', C::none, A::show_no},
        {L'a', C::no, A::show_all},
        {L'a', C::none, A::show_all},
        // Enter confirms only a shown letter.
        {0x0D, C::none, A::ignore},
        {0x0D, C::yes, A::confirm},
        {0x0D, C::no, A::confirm},
        {0x0D, C::all, A::confirm},
        {0x03, C::none, A::interrupt},
        {0x03, C::yes, A::interrupt},
        {0x08, C::yes, A::erase},
        {0x08, C::none, A::erase},
        {0x00, C::all, A::erase},
        {0x00E0, C::no, A::erase},
        // Esc and every other key ring the bell.
        {0x1B, C::yes, A::erase_and_ring},
        {0x1B, C::none, A::erase_and_ring},
        {L'x', C::no, A::erase_and_ring},
        {L'Y', C::none, A::erase_and_ring},  // not folded: not a choice
        {0x7F, C::yes, A::erase_and_ring},
        {0x0A, C::yes, A::erase_and_ring},
        {0x65E5, C::all, A::erase_and_ring},
        // _getwch cannot read the console: answer No rather than wait.
        {0xFFFF, C::none, A::give_up},
        {0xFFFF, C::all, A::give_up},
    };
    for (const ActionRow& row : rows) {
        EXPECT_EQ(key_action(row.key, row.shown), row.action)
            << "key " << std::hex << static_cast<int>(row.key) << " shown "
            << static_cast<int>(row.shown);
    }
}

struct RowsRow {
    int width;
    int screen_width;
    int rows;
};

TEST(PromptKeys, RowsAboveTheCursorAfterTheAnswer)
{
    const RowsRow rows[] = {
        {32, 80, 0},  {79, 80, 0},  {80, 80, 1},  {81, 80, 1}, {160, 80, 2},
        {59, 30, 1},  {60, 30, 2},  {80, 30, 2},  {91, 30, 3}, {0, 80, 0},
        {5, 1, 5},    {100, 0, 0},  {100, -1, 0},
    };
    for (const RowsRow& row : rows) {
        EXPECT_EQ(rows_above(row.width, row.screen_width), row.rows)
            << row.width << " columns on a screen " << row.screen_width << " wide";
    }
}

} // namespace

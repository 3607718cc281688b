#include "run_settings.h"
#include "start_up.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class StartUp : public ::testing::Test {
protected:
    void SetUp() override { settings = RunSettings{}; }
    void TearDown() override { settings = RunSettings{}; }
};

} // namespace

TEST_F(StartUp, JapaneseOnlyWithAJapaneseCodePageAndUiLanguage)
{
    const struct {
        UINT code_page;
        LANGID ui_language;
        Language expected;
    } rows[] = {
        {932, 1041, language_japanese},   {65001, 1041, language_japanese},
        {437, 1041, language_english},    {1252, 1041, language_english},
        {0, 1041, language_english},      {932, 1033, language_english},
        {65001, 1033, language_english},  {932, 2052, language_english},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(choose_language(row.code_page, row.ui_language), row.expected)
            << row.code_page << " x " << row.ui_language;
    }
}

TEST_F(StartUp, RedirectedStreamsAreNotConsoles)
{
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) ||
        GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode)) {
        GTEST_SKIP() << "needs both output streams redirected, as under ctest";
    }
    settings.cursor_size = 0;
    probe_console();
    EXPECT_EQ(settings.stdout_console, nullptr);
    EXPECT_EQ(settings.stderr_console, nullptr);
    EXPECT_EQ(settings.cursor_size, 0u);
    // Without a console the output code page reads as 0: English, and the
    // conversions use the ANSI code page.
    EXPECT_EQ(settings.language, language_english);
    EXPECT_EQ(settings.utf8_console, 0);
}

TEST_F(StartUp, OnlyTheThreeSpecialArgumentsAreServed)
{
    EXPECT_TRUE(serve_special_argument(L"/void"));
    EXPECT_TRUE(serve_special_argument(L"/VoId"));
    for (const wchar_t* arg : {L"/vo", L"/void ", L"void", L"/ver2", L"/??", L"?", L"-?", L"/v", L""}) {
        EXPECT_FALSE(serve_special_argument(arg)) << arg;
    }
}

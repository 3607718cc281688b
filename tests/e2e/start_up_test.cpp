#include "e2e_support.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

// The usage text as it reaches a redirected stream: every line feed of
// the text becomes CR LF in the narrow stream.
std::string expected_usage()
{
    const char* const lines[] = {
        "Copy files.",
        "",
        "Tolvi [/a] [/e | /p] [/f] [/m[r]] [/r] [/u] [/h] [/c] [/l | /q | /t | /v] source [destination]",
        "      /a Do not copy attribute",
        "      /e Copy only file which exist",
        "      /p Promp for new copy",
        "      /f No overwrite prompt",
        "      /m Move file",
        "         r Move read only file also",
        "      /r Overwrite read only file also",
        "      /u Copy only newer file",
        "      /h Include hidden and system attribute",
        "      /c Keep file create date/time",
        "      /l Display only number of files copied",
        "      /q No display, no overwrite prompt",
        "      /t Display copy destination",
        "      /v Verbose",
    };
    std::string text;
    for (const char* line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

} // namespace

TEST(StartUp, UsageTextInEnglish)
{
    const std::string usage = expected_usage();
    ASSERT_EQ(usage.size(), 574u + 17u);  // 574 characters, each LF now CR LF
    const RunResult result = run_tolvi({L"/?"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, usage);
    EXPECT_EQ(result.err, "");
}

TEST(StartUp, VersionBannerInEitherCase)
{
    const std::regex banner("\r\n Tolvi 2\\.01 64bit - (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                            "( [1-9]|[12][0-9]|3[01]) [0-9]{4} ([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] \r\n");
    for (const wchar_t* arg : {L"/ver", L"/VER", L"/Ver"}) {
        const RunResult result = run_tolvi({arg});
        EXPECT_EQ(result.exit_code, 0) << utf8(arg);
        EXPECT_TRUE(std::regex_match(result.out, banner)) << utf8(arg) << ": [" << result.out << "]";
        EXPECT_EQ(result.err, "") << utf8(arg);
    }
}

TEST(StartUp, SpecialArgumentsAreSpecialOnlyAlone)
{
    const struct {
        std::vector<std::wstring> args;
        int exit_code;
        std::string out;
        std::string err;
    } rows[] = {
        {{L"/void"}, 0, "", ""},
        {{L"/VOID"}, 0, "", ""},
        {{}, 2, "", "Copy source parameter is not specified.\r\n"},
        {{L"/ver", L"x"}, 2, "", "/ver - Parameter is invalid.\r\n"},
        {{L"/void", L"x"}, 2, "", "/void - Parameter is invalid.\r\n"},
        {{L"/?", L"/?"}, 2, "", "/? - Parameter is invalid.\r\n"},
        {{L"/vers"}, 2, "", "/vers - Parameter is invalid.\r\n"},
    };
    for (const auto& row : rows) {
        const std::string args = row.args.empty() ? "(none)" : utf8(row.args[0]);
        const RunResult result = run_tolvi(row.args);
        EXPECT_EQ(result.exit_code, row.exit_code) << args;
        EXPECT_EQ(result.out, row.out) << args;
        EXPECT_EQ(result.err, row.err) << args;
    }
}

TEST(StartUp, ReportLinesAndErrorsKeepTheirOrderInOneFile)
{
    ScratchFolder scratch;
    make_folder(scratch / L"src");
    make_folder(scratch / L"dst");
    make_file(scratch / L"src\\a.txt", "new a");
    make_file(scratch / L"src\\b.txt", "new b");
    make_file(scratch / L"src\\c.txt", "new c");
    make_file(scratch / L"dst\\b.txt", "old b", base_seconds, FILE_ATTRIBUTE_READONLY);

    // The refusal of b.txt comes between the report lines of a.txt and
    // c.txt, where it happened.
    const RunResult result =
        run_tolvi({L"src\\*.txt", L"dst"}, {scratch.path(), /*merge_streams=*/true});
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_EQ(result.both, "Copy: a.txt\r\n" + utf8(scratch / L"dst\\b.txt") +
                               " - Write prohibited file.\r\n"
                               "Copy: c.txt\r\n");
    EXPECT_EQ(read_file(scratch / L"dst\\a.txt"), "new a");
    EXPECT_EQ(read_file(scratch / L"dst\\b.txt"), "old b");
    EXPECT_EQ(read_file(scratch / L"dst\\c.txt"), "new c");
}

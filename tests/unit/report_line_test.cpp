#include "copy_engine.h"
#include "e2e_support.h"
#include "progress.h"
#include "report_line.h"
#include "run_settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

constexpr std::uint64_t t0 = 13222310400ull;  // any whole second

struct LineCase {
    bool move;
    bool overwriting;
    bool verbose;
    bool show_destination;
    std::int32_t tolerance;
    std::uint64_t source_seconds;
    std::uint64_t dest_seconds;
    const wchar_t* source_file;
    const wchar_t* dest_file;
    const wchar_t* expected;
};

// move, overwriting, /v, /t, tolerance, source and destination seconds,
// names, the line.
const LineCase line_cases[] = {
    // The documented examples (C:\src\ to D:\dst\).
    {false, false, false, false, 0, t0, 0, L"a.txt", L"a.txt", L"Copy: a.txt"},
    {true, false, false, false, 0, t0, 0, L"a.txt", L"a.txt", L"Move: a.txt"},
    {false, true, false, false, 0, t0, t0, L"a.txt", L"a.txt", L"Update: a.txt"},
    {true, true, false, false, 0, t0, t0, L"a.txt", L"a.txt", L"Update Move: a.txt"},
    {false, true, true, false, 0, t0, t0, L"a.txt", L"a.txt", L"Overwrite: C:\\src\\a.txt -> D:\\dst\\"},
    {false, true, true, false, 0, t0, t0 + 60, L"a.txt", L"a.txt", L"Downdate: C:\\src\\a.txt -> D:\\dst\\"},
    {false, false, false, false, 0, t0, 0, L"a.txt", L"b.txt", L"Copy: a.txt -> b.txt"},
    {false, false, false, true, 0, t0, 0, L"a.txt", L"a.txt", L"Copy: a.txt -> D:\\dst\\"},
    {false, false, false, true, 0, t0, 0, L"a.txt", L"b.txt", L"Copy: a.txt -> D:\\dst\\b.txt"},
    {false, false, true, false, 0, t0, 0, L"a.txt", L"b.txt", L"Copy: C:\\src\\a.txt -> D:\\dst\\b.txt"},
    // Without /v an existing destination is "Update" whatever the times.
    {false, true, false, false, 0, t0, t0 + 60, L"a.txt", L"a.txt", L"Update: a.txt"},
    {false, true, false, true, 2, t0 - 60, t0, L"a.txt", L"a.txt", L"Update: a.txt -> D:\\dst\\"},
    {true, true, false, false, 0, t0, t0 + 5, L"a.txt", L"b.txt", L"Update Move: a.txt -> b.txt"},
    // /v time words at tolerance 0 and 2, exact boundaries.
    {false, true, true, false, 0, t0 + 1, t0, L"a.txt", L"a.txt", L"Update: C:\\src\\a.txt -> D:\\dst\\"},
    {false, true, true, false, 0, t0, t0 + 1, L"a.txt", L"a.txt", L"Downdate: C:\\src\\a.txt -> D:\\dst\\"},
    {false, true, true, false, 2, t0 + 2, t0, L"a.txt", L"a.txt", L"Overwrite: C:\\src\\a.txt -> D:\\dst\\"},
    {false, true, true, false, 2, t0, t0 + 2, L"a.txt", L"a.txt", L"Overwrite: C:\\src\\a.txt -> D:\\dst\\"},
    {false, true, true, false, 2, t0 + 3, t0, L"a.txt", L"a.txt", L"Update: C:\\src\\a.txt -> D:\\dst\\"},
    {false, true, true, false, 2, t0, t0 + 3, L"a.txt", L"a.txt", L"Downdate: C:\\src\\a.txt -> D:\\dst\\"},
    {true, true, true, false, 2, t0, t0, L"a.txt", L"a.txt", L"Overwrite Move: C:\\src\\a.txt -> D:\\dst\\"},
    {true, true, true, false, 0, t0 + 9, t0, L"a.txt", L"b.txt", L"Update Move: C:\\src\\a.txt -> D:\\dst\\b.txt"},
    {true, true, true, false, 2, t0, t0 + 400, L"a.txt", L"a.txt", L"Downdate Move: C:\\src\\a.txt -> D:\\dst\\"},
    // A new destination takes no time word, even with /v.
    {false, false, true, false, 0, t0, t0 + 60, L"a.txt", L"a.txt", L"Copy: C:\\src\\a.txt -> D:\\dst\\"},
    {true, false, true, false, 0, t0, 0, L"a.txt", L"a.txt", L"Move: C:\\src\\a.txt -> D:\\dst\\"},
    // /v takes precedence over /t.
    {false, false, true, true, 0, t0, 0, L"a.txt", L"b.txt", L"Copy: C:\\src\\a.txt -> D:\\dst\\b.txt"},
    {true, true, false, true, 0, t0, t0, L"a.txt", L"a.txt", L"Update Move: a.txt -> D:\\dst\\"},
    // Names that differ in letter case only are different names.
    {false, false, false, false, 0, t0, 0, L"a.txt", L"A.TXT", L"Copy: a.txt -> A.TXT"},
    {false, false, false, true, 0, t0, 0, L"a.txt", L"A.TXT", L"Copy: a.txt -> D:\\dst\\A.TXT"},
    {false, true, true, false, 0, t0, t0, L"ReadMe.txt", L"README.TXT",
     L"Overwrite: C:\\src\\ReadMe.txt -> D:\\dst\\README.TXT"},
    {false, false, false, false, 0, t0, 0, L"\u65e5\u672c.txt", L"\u65e5\u672c.txt", L"Copy: \u65e5\u672c.txt"},
};

class ReportLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings = RunSettings{};
        settings.source_dir = L"C:\\src\\";
        settings.dest_dir = L"D:\\dst\\";
    }
    void TearDown() override { settings = RunSettings{}; }
};

} // namespace

TEST_F(ReportLine, LineForEveryCombination)
{
    for (const LineCase& c : line_cases) {
        settings.move = c.move;
        settings.verbose = c.verbose;
        settings.show_destination = c.show_destination;
        settings.time_tolerance = c.tolerance;
        FileJob job;
        job.source_file = c.source_file;
        job.dest_file = c.dest_file;
        job.source_path = settings.source_dir + job.source_file;
        job.dest_path = settings.dest_dir + job.dest_file;
        job.overwriting = c.overwriting;
        job.source_seconds = c.source_seconds;
        job.dest_seconds = c.dest_seconds;
        EXPECT_EQ(build_report_line(job), c.expected);
    }
}

TEST_F(ReportLine, LanguageDoesNotChangeTheFixedWords)
{
    FileJob job;
    job.source_file = job.dest_file = L"a.txt";
    job.overwriting = true;
    settings.move = true;
    for (const std::int32_t language : {0, 1}) {
        settings.language = language;
        EXPECT_EQ(build_report_line(job), L"Update Move: a.txt");
    }
}

TEST_F(ReportLine, TimeWordBoundaries)
{
    struct WordCase {
        std::uint64_t source;
        std::uint64_t dest;
        std::int32_t tolerance;
        const wchar_t* word;
    };
    const WordCase cases[] = {
        {t0, t0, 0, L"Overwrite"},     {t0 + 1, t0, 0, L"Update"},   {t0, t0 + 1, 0, L"Downdate"},
        {t0 + 2, t0, 2, L"Overwrite"}, {t0, t0 + 2, 2, L"Overwrite"}, {t0 + 3, t0, 2, L"Update"},
        {t0, t0 + 3, 2, L"Downdate"},  {0, t0, 2, L"Downdate"},     {t0, 0, 0, L"Update"},
    };
    for (const WordCase& c : cases) {
        EXPECT_STREQ(time_word(c.source, c.dest, c.tolerance), c.word)
            << c.source << " vs " << c.dest << " at " << c.tolerance;
    }
}

TEST(CopyProgress, BytesSoFarOfBytesInAllAsTheScreenShowsThem)
{
    constexpr std::uint64_t most = ~std::uint64_t{0};
    EXPECT_EQ(progress_text(9, 1000), L" 0%");
    EXPECT_EQ(progress_text(2, 3), L" 66%");
    EXPECT_EQ(progress_text(999, 1000), L" 99%");
    EXPECT_EQ(progress_text(1000, 1000), L" 100%");
    EXPECT_EQ(progress_text(0, 0), L" 100%");
    EXPECT_EQ(progress_text(most / 2, most), L" 49%");
    EXPECT_EQ(progress_text(most - 1, most), L" 99%");
}

TEST(CopyProgress, RoutineAndWrittenSizeGiveOneText)
{
    // Wine's route: the size written so far against the source's. Windows'
    // route: what the copy's progress routine reported, which wins once it
    // has reported; the routine only notes it, and leaves a pending Ctrl+C
    // to the copy's cancel flag.
    ScratchFolder folder;
    make_file(folder / L"from", std::string(2000, 'x'));
    make_file(folder / L"to", std::string(740, 'x'));
    ReportedBytes reported;
    EXPECT_EQ(copy_figure(reported, folder / L"from", folder / L"to"), L" 37%");
    EXPECT_EQ(copy_figure(reported, folder / L"from", folder / L"none"), L"");
    const LARGE_INTEGER total{{2000, 0}};
    const LARGE_INTEGER done{{740, 0}};
    settings.stop_state = stop_requested;
    EXPECT_EQ(note_copy_progress(total, done, total, done, 1, CALLBACK_CHUNK_FINISHED, nullptr,
                                 nullptr, &reported),
              static_cast<DWORD>(PROGRESS_CONTINUE));
    settings = RunSettings{};
    EXPECT_EQ(copy_figure(reported, folder / L"from", folder / L"none"), L" 37%");
}

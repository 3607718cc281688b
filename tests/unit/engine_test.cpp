#include "copy_engine.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr std::uint64_t units_per_second = 10000000u;
constexpr std::uint64_t t0 = 13222310400ull;  // beyond 32 bits once in units

FILETIME file_time(std::uint64_t units)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(units & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(units >> 32);
    return time;
}

struct TimeCase {
    std::uint64_t source;
    std::uint64_t dest;
    std::int32_t tolerance;
    bool within;  // counts as equal
    bool newer;   // /u lets it pass
};

const TimeCase time_cases[] = {
    {t0, t0, 0, true, false},
    {t0 + 1, t0, 0, false, true},
    {t0, t0 + 1, 0, false, false},
    {t0 + 2, t0, 2, true, false},
    {t0, t0 + 2, 2, true, false},
    {t0 + 3, t0, 2, false, true},
    {t0, t0 + 3, 2, false, false},
    {t0 + 1, t0, 2, true, false},
    {t0 + 100000, t0, 2, false, true},
    {0, t0, 0, false, false},
    {t0, 0, 2, false, true},
};

} // namespace

TEST(EngineTimes, WholeSecondsDropTheRemainder)
{
    EXPECT_EQ(whole_seconds(file_time(0)), 0u);
    EXPECT_EQ(whole_seconds(file_time(units_per_second - 1)), 0u);
    EXPECT_EQ(whole_seconds(file_time(units_per_second)), 1u);
    EXPECT_EQ(whole_seconds(file_time(t0 * units_per_second)), t0);
    EXPECT_EQ(whole_seconds(file_time(t0 * units_per_second + units_per_second - 1)), t0);
    EXPECT_EQ(whole_seconds(file_time((t0 + 1) * units_per_second)), t0 + 1);
    // Both halves of the FILETIME count: a value just under and just
    // over a 32-bit boundary.
    EXPECT_EQ(whole_seconds(file_time(0xFFFFFFFFull)), 0xFFFFFFFFull / units_per_second);
    EXPECT_EQ(whole_seconds(file_time(0x100000000ull * 1000)), 0x100000000ull * 1000 / units_per_second);
}

TEST(EngineTimes, SameSecondWithDifferentFractionsIsEqual)
{
    const std::uint64_t early = whole_seconds(file_time(t0 * units_per_second + 1));
    const std::uint64_t late = whole_seconds(file_time(t0 * units_per_second + units_per_second - 1));
    EXPECT_TRUE(times_within_tolerance(late, early, 0));
    EXPECT_FALSE(source_is_newer(late, early, 0));
    const std::uint64_t next = whole_seconds(file_time((t0 + 1) * units_per_second));
    EXPECT_TRUE(source_is_newer(next, late, 0));
}

TEST(EngineTimes, ToleranceAndNewerBoundaries)
{
    for (const TimeCase& c : time_cases) {
        EXPECT_EQ(times_within_tolerance(c.source, c.dest, c.tolerance), c.within)
            << c.source << " vs " << c.dest << " at " << c.tolerance;
        EXPECT_EQ(source_is_newer(c.source, c.dest, c.tolerance), c.newer)
            << c.source << " vs " << c.dest << " at " << c.tolerance;
    }
}

// Under Wine a rename that changes only the letter case reports success and
// leaves the stored name as it was, so the case fix-up is checked here
// rather than only by its effect on disk.
TEST(EngineNames, StoredNameCaseDecision)
{
    EXPECT_TRUE(stored_name_case_differs(L"README.TXT", L"ReadMe.txt"));
    EXPECT_TRUE(stored_name_case_differs(L"a.txt", L"A.txt"));
    EXPECT_TRUE(stored_name_case_differs(L"a.txt", L"a.txt "));
    EXPECT_TRUE(stored_name_case_differs(L"\u00e9.txt", L"\u00c9.txt"));
    EXPECT_FALSE(stored_name_case_differs(L"ReadMe.txt", L"ReadMe.txt"));
    EXPECT_FALSE(stored_name_case_differs(L"\u65e5\u672c.txt", L"\u65e5\u672c.txt"));
}

#include "command_line.h"
#include "path_text.h"
#include "run_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Flag = bool RunSettings::*;

struct NamedFlag {
    Flag flag;
    const char* name;
};

const NamedFlag all_flags[] = {
    {&RunSettings::no_attributes, "no_attributes"}, {&RunSettings::keep_create_time, "keep_create_time"},
    {&RunSettings::existing_only, "existing_only"}, {&RunSettings::no_overwrite_prompt, "no_overwrite_prompt"},
    {&RunSettings::include_hidden_system, "include_hidden_system"}, {&RunSettings::count_only, "count_only"},
    {&RunSettings::move, "move"}, {&RunSettings::move_read_only, "move_read_only"},
    {&RunSettings::prompt_new, "prompt_new"}, {&RunSettings::quiet, "quiet"},
    {&RunSettings::overwrite_read_only, "overwrite_read_only"}, {&RunSettings::show_destination, "show_destination"},
    {&RunSettings::newer_only, "newer_only"}, {&RunSettings::verbose, "verbose"},
};

// The names of the flags of settings that are set, in declaration order.
std::vector<std::string> flags_set()
{
    std::vector<std::string> names;
    for (const NamedFlag& named : all_flags) {
        if (settings.*named.flag) {
            names.push_back(named.name);
        }
    }
    return names;
}

void set_only(const std::vector<Flag>& flags)
{
    settings = RunSettings{};
    for (Flag flag : flags) {
        settings.*flag = true;
    }
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override { settings = RunSettings{}; }
    void TearDown() override { settings = RunSettings{}; }
};

constexpr Flag a = &RunSettings::no_attributes;
constexpr Flag e = &RunSettings::existing_only;
constexpr Flag f = &RunSettings::no_overwrite_prompt;
constexpr Flag l = &RunSettings::count_only;
constexpr Flag p = &RunSettings::prompt_new;
constexpr Flag q = &RunSettings::quiet;
constexpr Flag t = &RunSettings::show_destination;
constexpr Flag v = &RunSettings::verbose;

} // namespace

TEST_F(CommandLine, EveryOptionSetsItsFlagsInEitherCase)
{
    const struct {
        const wchar_t* spellings[3];
        std::vector<std::string> flags;
    } rows[] = {
        {{L"/a", L"/A", nullptr}, {"no_attributes"}},
        {{L"/c", L"/C", nullptr}, {"keep_create_time"}},
        {{L"/e", L"/E", nullptr}, {"existing_only"}},
        {{L"/f", L"/F", nullptr}, {"no_overwrite_prompt"}},
        {{L"/h", L"/H", nullptr}, {"include_hidden_system"}},
        {{L"/l", L"/L", nullptr}, {"count_only"}},
        {{L"/m", L"/M", nullptr}, {"move"}},
        {{L"/mr", L"/MR", L"/mR"}, {"move", "move_read_only"}},
        {{L"/p", L"/P", nullptr}, {"prompt_new"}},
        {{L"/q", L"/Q", nullptr}, {"quiet"}},
        {{L"/r", L"/R", nullptr}, {"overwrite_read_only"}},
        {{L"/t", L"/T", nullptr}, {"show_destination"}},
        {{L"/u", L"/U", nullptr}, {"newer_only"}},
        {{L"/v", L"/V", nullptr}, {"verbose"}},
    };
    for (const auto& row : rows) {
        for (const wchar_t* spelling : row.spellings) {
            if (spelling == nullptr) {
                continue;
            }
            settings = RunSettings{};
            EXPECT_TRUE(apply_option(spelling)) << spelling;
            EXPECT_EQ(flags_set(), row.flags) << spelling;
            // Given twice, the same as once.
            EXPECT_TRUE(apply_option(spelling)) << spelling;
            EXPECT_EQ(flags_set(), row.flags) << spelling;
        }
    }
}

TEST_F(CommandLine, OnlyAWholeOptionArgumentIsAnOption)
{
    for (const wchar_t* arg : {L"/af", L"/fa", L"/a ", L" /a", L"-a", L"a", L"/", L"//a", L"/mrr",
                               L"/rm", L"/ver", L"/void", L"/?", L"/x", L""}) {
        settings = RunSettings{};
        EXPECT_FALSE(apply_option(arg)) << arg;
        EXPECT_TRUE(flags_set().empty()) << arg;
    }
}

TEST_F(CommandLine, ConflictsAreTestedInOrderOnTheFlagsAsGiven)
{
    const wchar_t* const display = L"/l /q /t /v";
    const struct {
        std::vector<Flag> given;
        const wchar_t* expected;  // nullptr: no conflict
    } rows[] = {
        {{}, nullptr},          {{v}, nullptr},           {{q}, nullptr},        {{l}, nullptr},
        {{t}, nullptr},         {{q, v}, display},        {{l, q}, display},     {{l, t}, display},
        {{t, v}, display},      {{l, q, t, v}, display},  {{p, q, v}, display},  {{p, e}, L"/e /p"},
        {{p, e, q}, L"/e /p"},  {{p, q}, L"/p /q"},       {{p, l}, nullptr},     {{p, t}, nullptr},
        {{p, f, a}, nullptr},   {{e, q}, nullptr},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        set_only(rows[i].given);
        const wchar_t* found = conflicting_options();
        if (rows[i].expected == nullptr) {
            EXPECT_EQ(found, nullptr) << "row " << i << ": " << (found ? found : L"");
        } else {
            ASSERT_NE(found, nullptr) << "row " << i;
            EXPECT_STREQ(found, rows[i].expected) << "row " << i;
        }
    }
}

TEST_F(CommandLine, QuietImpliesNoQuestionBeforeCountOnlyImpliesQuiet)
{
    const struct {
        std::vector<Flag> given;
        std::vector<std::string> after;
    } rows[] = {
        {{}, {}},
        {{q}, {"no_overwrite_prompt", "quiet"}},
        // /l makes the run quiet but keeps the overwrite question.
        {{l}, {"count_only", "quiet"}},
        {{l, q}, {"no_overwrite_prompt", "count_only", "quiet"}},
        {{p, l}, {"count_only", "prompt_new", "quiet"}},
        {{v, f}, {"no_overwrite_prompt", "verbose"}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        set_only(rows[i].given);
        derive_implied_flags();
        EXPECT_EQ(flags_set(), rows[i].after) << "row " << i;
    }
}

TEST_F(CommandLine, ForbiddenCharacters)
{
    for (wchar_t c : std::wstring(L"<>|/\"")) {
        EXPECT_TRUE(has_forbidden_path_char(std::wstring(L"a") + c + L"b")) << c;
        EXPECT_TRUE(has_forbidden_name_char(std::wstring(1, c))) << c;
    }
    for (wchar_t c : std::wstring(L"*?:\\")) {
        EXPECT_FALSE(has_forbidden_path_char(std::wstring(L"C:\\a") + c)) << c;
        EXPECT_TRUE(has_forbidden_name_char(std::wstring(L"b") + c + L".txt")) << c;
    }
    for (const wchar_t* plain : {L"a.txt", L"a b.txt", L"..", L"x-y_z(1)", L"\x65e5\x672c.txt"}) {
        EXPECT_FALSE(has_forbidden_path_char(plain)) << plain;
        EXPECT_FALSE(has_forbidden_name_char(plain)) << plain;
    }
}

TEST(PathText, SplitGivesFolderWithBackslashesAndName)
{
    const struct {
        const wchar_t* full;
        const wchar_t* folder;
        const wchar_t* name;
    } rows[] = {
        {L"C:\\data\\a.txt", L"C:\\data\\", L"a.txt"},
        {L"C:\\a.b.c", L"C:\\", L"a.b.c"},
        {L"C:\\data\\*.txt", L"C:\\data\\", L"*.txt"},
        {L"\\\\.\\NUL", L"\\\\.\\", L"NUL"},
        {L"\\\\server\\share\\f", L"\\\\server\\share\\", L"f"},
    };
    for (const auto& row : rows) {
        std::wstring folder;
        std::wstring name;
        ASSERT_TRUE(split_full_path(row.full, folder, name)) << row.full;
        EXPECT_EQ(folder, row.folder);
        EXPECT_EQ(name, row.name);
    }
}

TEST(PathText, PartsTooLongForTheSplitBuffersAreRefused)
{
    const std::wstring dir_255 = L"\\" + std::wstring(253, L'd') + L"\\";
    const std::wstring dir_256 = L"\\" + std::wstring(254, L'd') + L"\\";
    std::wstring folder = L"unchanged";
    std::wstring name = L"unchanged";
    EXPECT_TRUE(split_full_path(L"C:" + dir_255 + L"f", folder, name));
    EXPECT_EQ(folder, L"C:" + dir_255);
    EXPECT_EQ(name, L"f");
    // Without a drive the whole leading part counts as the folder.
    EXPECT_FALSE(split_full_path(L"\\" + dir_255 + L"f", folder, name));
    EXPECT_FALSE(split_full_path(L"C:" + dir_256 + L"f", folder, name));
    EXPECT_TRUE(split_full_path(L"C:\\" + std::wstring(255, L'n') + L".txt", folder, name));
    EXPECT_FALSE(split_full_path(L"C:\\" + std::wstring(256, L'n') + L".txt", folder, name));
    EXPECT_TRUE(split_full_path(L"C:\\n." + std::wstring(254, L'x'), folder, name));
    EXPECT_FALSE(split_full_path(L"C:\\n." + std::wstring(255, L'x'), folder, name));
}

TEST(PathText, FullPathMustFitItsBuffer)
{
    std::wstring full;
    ASSERT_TRUE(make_full_path(L"C:\\data\\..\\a.txt", full));
    EXPECT_EQ(full, L"C:\\a.txt");
    const std::wstring fits = L"C:\\" + std::wstring(256, L'x');  // 259 and the terminator
    ASSERT_TRUE(make_full_path(fits, full));
    EXPECT_EQ(full, fits);
    EXPECT_FALSE(make_full_path(fits + L"x", full));
}

// A staging path beside a destination near the classic limit goes past it.
TEST(PathText, PlatformPathTakesTheLongFormOnlyBeyondTheClassicLimit)
{
    const std::wstring fits = L"C:\\" + std::wstring(256, L'x');  // 259 characters
    EXPECT_EQ(platform_path(fits), fits);
    EXPECT_EQ(platform_path(fits + L"x"), L"\\\\?\\" + fits + L"x");
    const std::wstring share = L"\\\\server\\share\\" + std::wstring(250, L'x');
    EXPECT_EQ(platform_path(share), L"\\\\?\\UNC\\server\\share\\" + std::wstring(250, L'x'));
    const std::wstring literal = L"\\\\?\\" + fits + L"x";
    EXPECT_EQ(platform_path(literal), literal);
}

#include "run_driver.h"

#include "e2e_support.h"
#include "message_catalog.h"
#include "run_settings.h"
#include "scoped_handles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cwctype>
#include <string>
#include <utility>
#include <vector>

namespace {

struct TextCase {
    std::wstring input;
    std::wstring expected;
};

TEST(RunDriverText, FormatCountIsPlainSignedDecimal)
{
    const std::vector<std::pair<std::int32_t, std::wstring>> cases = {
        {0, L"0"},           {3, L"3"},
        {-7, L"-7"},         {1234567, L"1234567"},
        {INT32_MAX, L"2147483647"}, {INT32_MIN, L"-2147483648"},
    };
    for (const auto& [count, expected] : cases) {
        EXPECT_EQ(format_count(count), expected) << count;
    }
}

TEST(RunDriverText, VolumeRootIsDriveRootOrServerAndShare)
{
    const std::vector<TextCase> cases = {
        {L"C:\\data\\", L"C:\\"},
        {L"C:\\a\\b\\", L"C:\\"},
        {L"C:\\", L"C:\\"},
        {L"\\\\server\\share\\dir\\", L"\\\\server\\share\\"},
        {L"\\\\server\\share\\", L"\\\\server\\share\\"},
        {L"\\\\?\\UNC\\server\\share\\dir\\", L"\\\\?\\UNC\\server\\share\\"},
        {L"\\\\?\\unc\\server\\share\\", L"\\\\?\\unc\\server\\share\\"},
        {L"\\\\?\\C:\\data\\", L"\\\\?\\C:\\"},
    };
    // Wine's GetVolumePathNameW knows no network paths, so there they take
    // the root by the text.
    for (const TextCase& c : cases) {
        EXPECT_EQ(volume_root(c.input), c.expected);
    }
}

TEST(RunDriverText, CollapseRemovesOneBackslashOfTheLastPairOnly)
{
    const std::vector<TextCase> cases = {
        {L"C:\\\\", L"C:\\"},                 // drive root resolved as C: plus two
        {L"S:\\x\\\\", L"S:\\x\\"},           // folder typed with a trailing backslash
        {L"C:\\a\\\\b\\\\", L"C:\\a\\\\b\\"}, // only the last pair
        {L"\\\\server\\share\\", L"\\\\server\\share\\"},
        {L"\\\\server\\share\\dir\\\\", L"\\\\server\\share\\dir\\"},
        {L"\\\\", L"\\\\"},                   // a lone pair opens a network path
        {L"\\", L"\\"},
        {L"", L""},
    };
    for (const TextCase& c : cases) {
        std::wstring folder = c.input;
        collapse_doubled_backslash(folder);
        EXPECT_EQ(folder, c.expected) << "from " << std::string(c.input.begin(), c.input.end());
    }
}

// On a real folder tree <root>hn<pid>\Long Folder Name\ (the parent's name
// fits 8.3, the child's does not): every spelling of an existing folder
// comes back as stored, with an upper-case drive and its closing
// backslash; a missing path comes back as given.
TEST(NormalizePath, ExistingFoldersComeBackAsStored)
{
    const std::wstring parent =
        test_root() + L"hn" + std::to_wstring(GetCurrentProcessId() % 100000) + L"\\";
    const std::wstring child = parent + L"Long Folder Name\\";
    ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(child.c_str(), nullptr));
    const std::wstring short_child = short_form(child);
    std::wstring upper_parent = parent;
    for (std::size_t i = test_root().size(); i < upper_parent.size(); ++i) {
        upper_parent[i] = static_cast<wchar_t>(towupper(upper_parent[i]));
    }
    const std::wstring missing = lower_drive(parent + L"No Such Folder\\");
    const std::vector<TextCase> cases = {
        {lower_drive(short_child), child},
        {lower_drive(child), child},
        {lower_drive(upper_parent), parent},
        // Wine's GetLongPathNameW alone only restores the case of components
        // that fit 8.3; going through the short form first restores every one.
        {lower_drive(upper_parent) + L"long FOLDER name\\", child},
        {lower_drive(child.substr(0, 3)), child.substr(0, 3)},
        {missing, missing},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(normalize_path(c.input), c.expected) << std::string(c.input.begin(), c.input.end());
    }
    RemoveDirectoryW(child.c_str());
    RemoveDirectoryW(parent.c_str());
    EXPECT_NE(short_child, child);  // the child really has a distinct short form
}

// A listing ends only when no (more) files match: the C runtime gives
// ENOENT then. Any other errno is a listing that failed and must not be
// taken for an empty folder: on Windows EINVAL, say, for a network share
// that drops part-way, which cannot be brought about under Wine here (once
// a folder is open its listing reads on, as root, whatever befalls it).
TEST(FolderListing, EndsOnlyWhenNoMoreFilesMatch)
{
    EXPECT_TRUE(is_end_of_listing(ENOENT));
    for (const int error : {EINVAL, EACCES, ENOMEM, EIO}) {
        EXPECT_FALSE(is_end_of_listing(error)) << error;
    }
    ScratchFolder folder;
    make_file(folder / L"a.txt", "ay");
    make_file(folder / L"b.txt", "bee");
    FileSearch listing((folder / L"*.txt").c_str());
    ASSERT_TRUE(listing.found());
    EXPECT_FALSE(listing.failed());
    EXPECT_TRUE(listing.next());
    EXPECT_FALSE(listing.next());
    EXPECT_FALSE(listing.failed());
    const FileSearch no_match((folder / L"*.pdf").c_str());
    EXPECT_FALSE(no_match.found());
    EXPECT_FALSE(no_match.failed());
}

TEST(PreparedFolders, DoubledDriveRootBecomesOneRootWithItsVolume)
{
    // A drive root typed as "s:\" is resolved as "s:\\"; prepared, it is the
    // root once, upper-cased, and is its own volume root.
    std::wstring folder = test_root().substr(0, 3) + L"\\";
    folder[0] = static_cast<wchar_t>(towlower(folder[0]));
    collapse_doubled_backslash(folder);
    ASSERT_EQ(folder.size(), 3u);
    EXPECT_EQ(volume_root(folder), folder);
    const std::wstring prepared = normalize_path(folder);
    EXPECT_EQ(prepared, std::wstring(1, static_cast<wchar_t>(towupper(folder[0]))) + L":\\");
}

// Without a destination the current folder is used; when its full path
// does not fit the path buffer the run ends as if "." had been typed, and
// nothing is copied (not to the root of the current drive either).
TEST(PreparedFolders, CurrentFolderTooLongForItsFullPathEndsTheRun)
{
    ScratchFolder scratch;
    const std::wstring name = L"cwd" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    make_file(scratch / name, "contents");
    std::vector<std::wstring> chain{L"\\\\?\\" + scratch.path() + L"long"};
    while (chain.back().size() < 300) {
        chain.push_back(chain.back() + L"\\" + std::wstring(50, L'x'));
    }
    wchar_t before[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, before), 0u);
    for (const std::wstring& folder : chain) {
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    const auto remove_chain = [&chain] {
        for (auto folder = chain.rbegin(); folder != chain.rend(); ++folder) {
            RemoveDirectoryW(folder->c_str());
        }
    };
    if (!SetCurrentDirectoryW(chain.back().c_str())) {
        remove_chain();
        GTEST_SKIP() << "this system keeps the current folder within the path buffer";
    }
    const std::wstring drive_root = scratch.path().substr(0, 3);
    settings = RunSettings{};
    settings.language = language_english;
    settings.source_dir = scratch.path();
    RunArguments run;
    run.source_name = name;

    testing::internal::CaptureStderr();
    const int exit_code = run_files(run);
    const std::string err = testing::internal::GetCapturedStderr();
    SetCurrentDirectoryW(before);
    settings = RunSettings{};
    const bool copied_to_root = file_exists(drive_root + name);
    DeleteFileW((drive_root + name).c_str());
    remove_chain();

    EXPECT_EQ(exit_code, 2);
    EXPECT_EQ(err, ". - File name or folder name is invalid.\n");
    EXPECT_FALSE(copied_to_root);
}

} // namespace

#include "e2e_support.h"
#include "host_shell.h"
#include "run_checks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Names = std::vector<std::wstring>;

// A folder path without its closing backslash, as a user types it.
std::wstring typed(const std::wstring& folder)
{
    return folder.substr(0, folder.size() - 1);
}

TEST(RunDriver, FolderSourceCopiedIntoTheCurrentFolder)
{
    ScratchFolder src;
    ScratchFolder dst;
    make_file(src / L"b.txt", "bee");
    make_file(src / L"a.txt", "ay");
    make_folder(src / L"sub");
    const RunResult result = run_tolvi({typed(src.path())}, {dst.path()});
    expect_run(result, 0, "Copy: a.txt\r\nCopy: b.txt\r\n", "");
    EXPECT_EQ(list_folder(dst.path()), (Names{L"a.txt", L"b.txt"}));
    EXPECT_EQ(read_file(dst / L"a.txt"), "ay");
    EXPECT_EQ(read_file(dst / L"b.txt"), "bee");
}

TEST(RunDriver, PatternCopiesOnlyMatchingFilesInListingOrder)
{
    ScratchFolder src;
    ScratchFolder dst;
    for (const wchar_t* name : {L"b.txt", L"C.TXT", L"a.txt", L"d.log"}) {
        make_file(src / name, utf8(name));
    }
    make_folder(src / L"sub.txt");
    const RunResult result = run_tolvi({src / L"*.txt", typed(dst.path())});
    expect_run(result, 0, "Copy: a.txt\r\nCopy: b.txt\r\nCopy: C.TXT\r\n", "");
    EXPECT_EQ(list_folder(dst.path()), (Names{L"C.TXT", L"a.txt", L"b.txt"}));
    EXPECT_EQ(read_file(dst / L"C.TXT"), "C.TXT");
}

// A folder or pattern that exists but has no file to copy tonight exits 1,
// with its message as ever; a missing folder or a mistyped name is a run
// that never started, 2.
TEST(RunDriver, PatternWithNoFileToHandleIsNotFound)
{
    ScratchFolder src;
    ScratchFolder dst;
    make_folder(src / L"x.dir");
    make_folder(src / L"empty");
    make_file(src / L"h.txt", "hidden", base_seconds, FILE_ATTRIBUTE_HIDDEN);
    for (const wchar_t* pattern : {L"*.dir", L"h*.txt", L"empty"}) {
        const std::wstring searched = src / pattern + (*pattern == L'e' ? L"\\*" : L"");
        const RunResult result = run_tolvi({src / pattern, dst.path()});
        expect_run(result, 1, "", utf8(searched) + " - File was not found.\r\n");
    }
    struct Case {
        const wchar_t* arg;
        int exit_code;
    };
    for (const Case& c : {Case{L"*.pdf", 1}, Case{L"empty\\*.pdf", 1}, Case{L"missing\\*.pdf", 2},
                          Case{L"a.pdf", 2}, Case{L"missing", 2}}) {
        const RunResult result = run_tolvi({src / c.arg, dst.path()});
        expect_run(result, c.exit_code, "", utf8(src / c.arg) + " - File or folder was not found.\r\n");
    }
    EXPECT_EQ(list_folder(dst.path()), Names{});
}

TEST(RunDriver, SingleHiddenSourceNeedsH)
{
    ScratchFolder src;
    ScratchFolder dst;
    make_file(src / L"h.txt", "hidden", base_seconds, FILE_ATTRIBUTE_HIDDEN);
    // The message names the file as typed; the copy uses its stored name.
    const std::string refused = utf8(src / L"H.txt") + " - Hidden or system attribute file.\r\n";
    expect_run(run_tolvi({src / L"H.txt", dst.path()}), 3, "", refused);
    expect_run(run_tolvi({L"/l", src / L"H.txt", dst.path()}), 3, "", refused);
    EXPECT_EQ(list_folder(dst.path()), Names{});

    expect_run(run_tolvi({L"/h", src / L"H.txt", dst.path()}), 0, "Copy: h.txt\r\n", "");
    EXPECT_EQ(list_folder(dst.path()), Names{L"h.txt"});
    EXPECT_EQ(read_file(dst / L"h.txt"), "hidden");
}

TEST(RunDriver, SingleFileToNewNameInTheSameFolder)
{
    ScratchFolder src;
    make_file(src / L"a.txt", "ay");
    expect_run(run_tolvi({L"a.txt", L"b.txt"}, {src.path()}), 0, "Copy: a.txt -> b.txt\r\n", "");
    EXPECT_EQ(list_folder(src.path()), (Names{L"a.txt", L"b.txt"}));
    EXPECT_EQ(read_file(src / L"b.txt"), "ay");
}

TEST(RunDriver, ExistingDestinationKeepsItsStoredName)
{
    ScratchFolder src;
    ScratchFolder dst;
    make_file(src / L"a.txt", "new", base_seconds + 10);
    make_file(dst / L"A.TXT", "old");
    const RunResult result = run_tolvi({L"/f", src / L"a.txt", dst / L"a.txt"});
    expect_run(result, 0, "Update: a.txt -> A.TXT\r\n", "");
    EXPECT_EQ(list_folder(dst.path()), Names{L"A.TXT"});
    EXPECT_EQ(read_file(dst / L"A.TXT"), "new");
    // Now up to date: /u skips it without a word, and the run exits 1.
    expect_run(run_tolvi({L"/u", L"/f", src / L"a.txt", dst / L"a.txt"}), 1, "", "");
}

// Every spelling of one folder or file as source and destination is
// refused before a file is touched; with /m a move onto itself would
// delete the file.
TEST(RunDriver, SameFolderOrFileRefusedInEverySpelling)
{
    ScratchFolder scratch;
    const std::wstring folder = scratch / L"Long Folder Name\\";
    make_folder(folder);
    make_file(folder + L"a.txt", "ay");
    make_file(folder + L"b.txt", "bee");
    const std::wstring long_typed = typed(folder);
    const std::wstring short_typed = short_form(long_typed);
    ASSERT_NE(short_typed, L"");
    ASSERT_NE(short_typed, long_typed);
    const std::string same_folder = "Cannot copy to same folder.\r\n";
    const std::string same_file = "Same file was specified.\r\n";
    struct Case {
        std::vector<std::wstring> args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{long_typed}, same_folder},  // the current folder by default
        {{L"*.txt", L"."}, same_folder},
        {{L"a.txt", L"."}, same_folder},
        {{L"a.txt", L"A.TXT"}, same_file},
        {{L"/m", long_typed, short_typed}, same_folder},
        {{L"/m", lower_drive(short_typed) + L"\\*.txt", long_typed}, same_folder},
        {{L"/m", long_typed + L"\\", long_typed}, same_folder},
        {{L"/m", long_typed, long_typed + L"\\..\\Long Folder Name"}, same_folder},
        {{L"/m", long_typed, scratch / L"LONG folder NAME"}, same_folder},
        {{L"/m", L"/f", long_typed + L"\\a.txt", short_typed + L"\\A.txt"}, same_file},
    };
    for (const Case& c : cases) {
        const RunResult result = run_tolvi(c.args, {folder});
        expect_run(result, 2, "", c.err);
        EXPECT_EQ(list_folder(folder), (Names{L"a.txt", L"b.txt"}));
        EXPECT_EQ(read_file(folder + L"a.txt"), "ay");
        EXPECT_EQ(read_file(folder + L"b.txt"), "bee");
    }
}

// A file named by its long and by its short name in one folder is one
// file: refused like the same name twice, before the engine is reached.
TEST(RunDriver, LongAndShortNameOfOneFileAreTheSameFile)
{
    ScratchFolder scratch;
    const std::wstring long_name = scratch / L"long file name.txt";
    make_file(long_name, "kept");
    const std::wstring short_name = short_form(long_name);
    ASSERT_NE(short_name, long_name);
    for (const std::vector<std::wstring>& args :
         {std::vector<std::wstring>{L"/m", L"/f", short_name, long_name},
          std::vector<std::wstring>{L"/f", long_name, short_name}}) {
        expect_run(run_tolvi(args, {scratch.path()}), 2, "", "Same file was specified.\r\n");
        EXPECT_EQ(list_folder(scratch.path()), (Names{L"long file name.txt"}));
        EXPECT_EQ(read_file(long_name), "kept");
    }
}

TEST(RunDriver, ShortFoldersReachTheEngineInLongFormWithUpperDrive)
{
    ScratchFolder scratch;
    const std::wstring src = scratch / L"Source Folder Long\\";
    const std::wstring dst = scratch / L"Destination Long\\";
    make_folder(src);
    make_folder(dst);
    make_file(src + L"a.txt", "ay");
    const std::wstring short_src = lower_drive(short_form(src));
    const std::wstring short_dst = lower_drive(short_form(typed(dst)));
    ASSERT_NE(short_src, lower_drive(src));
    const RunResult result = run_tolvi({L"/v", short_src, short_dst});
    expect_run(result, 0, "Copy: " + utf8(src) + "a.txt -> " + utf8(dst) + "\r\n", "");
    EXPECT_EQ(read_file(dst + L"a.txt"), "ay");
}

TEST(RunDriver, DriveRootDestinationIsNotDoubled)
{
    const std::wstring root = cd_root();
    if (root.empty()) {
        GTEST_SKIP() << "TOLVI_TEST_CD_ROOT names no second scratch drive";
    }
    ScratchFolder src;
    const std::wstring name = L"hd" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    const std::wstring target = root.substr(0, 3) + name;
    make_file(src / name, "root");
    const RunResult result = run_tolvi({L"/v", src / name, root.substr(0, 3)});
    const std::string contents = read_file(target);
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(target.c_str());
    expect_run(result, 0, "Copy: " + utf8(src / name) + " -> " + utf8(root.substr(0, 3)) + "\r\n", "");
    EXPECT_EQ(contents, "root");
}

TEST(RunDriver, CountsWrittenOnlyWithL)
{
    struct Case {
        std::vector<std::wstring> flags;
        int fresh;
        int existing;
        std::string out;
    };
    // /l makes the run quiet but keeps the overwrite question; /f drops it.
    const std::vector<Case> cases = {
        {{L"/l", L"/f"}, 3, 2, "3 file(s) copied.\r\n2 file(s) copied over.\r\n"},
        {{L"/l", L"/f", L"/m"}, 3, 2, "3 file(s) moved.\r\n2 file(s) moved over.\r\n"},
        {{L"/l", L"/f"}, 0, 2, "2 file(s) copied over.\r\n"},
        {{L"/l", L"/m"}, 1, 0, "1 file(s) moved.\r\n"},
        {{L"/f"}, 1, 1, "Copy: n0.txt\r\nUpdate: o0.txt\r\n"},
    };
    for (const Case& c : cases) {
        ScratchFolder src;
        ScratchFolder dst;
        for (int i = 0; i < c.fresh; ++i) {
            make_file(src / (L"n" + std::to_wstring(i) + L".txt"), "new");
        }
        for (int i = 0; i < c.existing; ++i) {
            const std::wstring name = L"o" + std::to_wstring(i) + L".txt";
            make_file(src / name, "new", base_seconds + 60);
            make_file(dst / name, "old");
        }
        std::vector<std::wstring> args = c.flags;
        args.push_back(typed(src.path()));
        args.push_back(dst.path());
        expect_run(run_tolvi(args), 0, c.out, "");
        const bool moved = c.flags.back() == L"/m";
        EXPECT_EQ(list_folder(src.path()).size(), moved ? 0u : std::size_t(c.fresh + c.existing));
        EXPECT_EQ(list_folder(dst.path()).size(), std::size_t(c.fresh + c.existing));
        EXPECT_EQ(read_file(dst / L"o0.txt"), c.existing > 0 ? "new" : "<missing>");
    }
}

TEST(RunDriver, NothingDoneWritesNoCountsAndExitsOne)
{
    ScratchFolder src;
    ScratchFolder dst;
    make_file(src / L"a.txt", "new");
    make_file(src / L"b.txt", "new");
    make_file(dst / L"a.txt", "same age");
    make_file(dst / L"b.txt", "newer", base_seconds + 1);
    expect_run(run_tolvi({L"/l", L"/u", src.path(), dst.path()}), 1, "", "");
    EXPECT_EQ(read_file(dst / L"a.txt"), "same age");
    EXPECT_EQ(read_file(dst / L"b.txt"), "newer");
}

// The highest exit code wins: the /u skip of d.txt after the refusal of
// b.txt leaves it at 3.
TEST(RunDriver, OneRefusedFileMakesExitThreeAndTheRunGoesOn)
{
    ScratchFolder src;
    ScratchFolder dst;
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt", L"d.txt"}) {
        make_file(src / name, "new", base_seconds + 60);
    }
    make_file(dst / L"b.txt", "old", base_seconds, FILE_ATTRIBUTE_HIDDEN);
    make_file(dst / L"d.txt", "same", base_seconds + 60);
    const RunResult result = run_tolvi({L"/u", L"/f", src / L"*.txt", dst.path()});
    expect_run(result, 3, "Copy: a.txt\r\nCopy: c.txt\r\n",
               utf8(dst / L"b.txt") + " - Hidden or system attribute file.\r\n");
    EXPECT_EQ(read_file(dst / L"b.txt"), "old");
    EXPECT_EQ(read_file(dst / L"c.txt"), "new");
    EXPECT_EQ(read_file(dst / L"d.txt"), "same");
}

// Last-write times compared across two volumes with different file-system
// names (NTFS and CDFS) allow 2 seconds; on one volume they allow none.
TEST(RunDriver, TimeToleranceFollowsTheVolumes)
{
    const std::wstring root = cd_root();
    if (root.empty()) {
        GTEST_SKIP() << "TOLVI_TEST_CD_ROOT names no second scratch drive";
    }
    struct FileCase {
        const wchar_t* name;
        int source_ahead;      // seconds by which the source is newer
        const char* word_cd;   // /v word, tolerance 2
        const char* word_ntfs; // /v word, tolerance 0
    };
    const std::vector<FileCase> files = {
        {L"e1.txt", 1, "Overwrite", "Update"},     {L"e2.txt", 2, "Overwrite", "Update"},
        {L"e3.txt", 3, "Update", "Update"},        {L"eq.txt", 0, "Overwrite", "Overwrite"},
        {L"o1.txt", -1, "Overwrite", "Downdate"},  {L"o2.txt", -2, "Overwrite", "Downdate"},
        {L"o3.txt", -3, "Downdate", "Downdate"},
    };
    ScratchFolder src;
    for (const FileCase& f : files) {
        make_file(src / f.name, "new", base_seconds + 10 + static_cast<std::uint64_t>(f.source_ahead));
    }
    for (const bool cd : {true, false}) {
        for (const bool newer_only : {false, true}) {
            ScratchFolder dst(cd ? root : test_root());
            std::string out;
            int exit_code = 0;
            for (const FileCase& f : files) {
                make_file(dst / f.name, "old", base_seconds + 10);
                const int tolerance = cd ? 2 : 0;
                const bool passes = f.source_ahead > tolerance;
                if (newer_only && !passes) {
                    exit_code = 1;
                    continue;
                }
                out += std::string(cd ? f.word_cd : f.word_ntfs) + ": " + utf8(src / f.name) +
                       " -> " + utf8(dst.path()) + "\r\n";
            }
            std::vector<std::wstring> args = {L"/v", L"/f", src.path(), dst.path()};
            if (newer_only) {
                args.insert(args.begin(), L"/u");
            }
            SCOPED_TRACE(std::string(cd ? "cd" : "ntfs") + (newer_only ? " /u" : ""));
            expect_run(run_tolvi(args), exit_code, out, "");
            for (const FileCase& f : files) {
                const bool copied = !newer_only || f.source_ahead > (cd ? 2 : 0);
                EXPECT_EQ(read_file(dst / f.name), copied ? "new" : "old") << utf8(f.name);
            }
        }
    }
}

// A volume whose root the user may not open still reports its file
// system when asked by path: two NTFS volumes keep tolerance 0. Made with
// a Wine prefix of its own whose wineserver lacks the rights to read past
// folder permissions, and a drive V: there whose folder denies reading.
// That root, as a source folder or the folder of a pattern, cannot be
// listed: a failure, not a folder with nothing to copy. The prefix is kept
// in the build folder of this test program, so that a prefix of the
// user's, wherever it is, gets nothing beside it, and no other checkout
// shares it.
TEST(RunDriver, VolumeRootThatCannotBeOpenedKeepsItsFileSystem)
{
    ScratchFolder scratch;
    const std::wstring volume = scratch / L"volume\\";
    make_folder(volume);
    make_folder(volume + L"src");
    make_file(volume + L"b.txt", "b");  // named on its own: found by name, not listed
    const std::wstring dst = scratch / L"dst\\";
    make_folder(dst);
    struct Case {
        std::uint64_t source_seconds;
        const char* args;  // options and source, for the host's shell
        std::string out;
        int exit_code = 0;
        std::string err = "";
        const char* dst_after = "new";
    };
    const std::string v_line = "V:\\src\\a.txt -> " + utf8(dst) + "\r\n";
    const std::string unreadable = "V:\\ - Folder could not be read.\r\n";
    const Case cases[] = {
        {base_seconds + 2, "/u /f 'V:\\src\\a.txt'", "Update: a.txt\r\n"},  // skipped at tolerance 2
        {base_seconds + 2, "/v /f 'V:\\src\\a.txt'", "Update: " + v_line},   // "Overwrite" at tolerance 2
        {base_seconds - 2, "/v /f 'V:\\src\\a.txt'", "Downdate: " + v_line},
        {base_seconds + 2, "/f 'V:\\'", "", 3, unreadable, "old"},
        {base_seconds + 2, "/l /f 'V:\\*.txt'", "", 3, unreadable, "old"},
        {base_seconds + 2, "/f 'V:\\b.txt'", "", 3, unreadable, "old"},
    };
    const std::string other =
        "\"$(dirname \"$(dirname " + quoted(unix_path(tolvi_exe())) + ")\")/wineprefix_unreadable_root\"";
    const std::string prefix =
        "unset WINESERVERSOCKET; other=" + other + "\n"
        "if [ ! -d \"$other\" ]; then rm -rf \"$other.new\"; cp -al \"$WINEPREFIX\" \"$other.new\"; "
        "rm -f \"$other.new\"/*.reg \"$other.new/wineserver\"; cp \"$WINEPREFIX\"/*.reg \"$other.new/\"; "
        "mv \"$other.new\" \"$other\"; fi || exit 1\n"
        "ln -sfn " + quoted(unix_path(volume)) + " \"$other/dosdevices/v:\"\n"
        "export WINEPREFIX=\"$other\"\n";
    const HostChange server(
        "set -e\n" + prefix + "/usr/lib/wine/wineserver -k 2>/dev/null || true\n"
                 "chmod 0311 " + quoted(unix_path(volume)) + "\n"
                 "setpriv --bounding-set=-dac_override,-dac_read_search /usr/lib/wine/wineserver -p10\n"
                 "/usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1",
        prefix + "/usr/lib/wine/wineserver -k; chmod 0755 " + quoted(unix_path(volume)));
    REQUIRE_HOST(server, "root, setpriv and a second Wine prefix on the Linux host, hard-linked "
                         "from WINEPREFIX into the build folder (one file system)");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args + std::string(c.source_seconds > base_seconds ? " newer" : " older"));
        make_file(volume + L"src\\a.txt", "new", c.source_seconds);
        make_file(dst + L"a.txt", "old", base_seconds);
        const int code = run_host_script(
            prefix + "cd " + quoted(unix_path(scratch.path())) + "\n/usr/lib/wine/wine64 " +
            quoted(unix_path(tolvi_exe())) + " " + c.args + " " + quoted(utf8(dst)) +
            " >out.txt 2>err.txt </dev/null; echo $? >code.txt");
        ASSERT_EQ(code, 0);
        EXPECT_EQ(read_file(scratch / L"code.txt"), std::to_string(c.exit_code) + "\n");
        EXPECT_EQ(read_file(scratch / L"out.txt"), c.out);
        EXPECT_EQ(read_file(scratch / L"err.txt"), c.err);
        EXPECT_EQ(read_file(dst + L"a.txt"), c.dst_after);
    }
}

} // namespace

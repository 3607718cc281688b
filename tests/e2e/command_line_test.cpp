#include "e2e_support.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Every file and folder under `folder`, by relative path, with its
// attributes and, for a file, its contents and last-write time.
void take_snapshot(const std::wstring& folder, const std::wstring& relative,
                   std::map<std::wstring, std::string>& snapshot)
{
    for (const std::wstring& name : list_folder(folder)) {
        const std::wstring path = folder + name;
        const DWORD attributes = attributes_of(path);
        std::string state = std::to_string(attributes);
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            snapshot[relative + name + L"\\"] = state;
            take_snapshot(path + L"\\", relative + name + L"\\", snapshot);
        } else {
            snapshot[relative + name] =
                state + " " + std::to_string(last_write_seconds(path)) + " " + read_file(path);
        }
    }
}

std::map<std::wstring, std::string> snapshot_of(const std::wstring& folder)
{
    std::map<std::wstring, std::string> snapshot;
    take_snapshot(folder, L"", snapshot);
    return snapshot;
}

std::string describe(const std::vector<std::wstring>& args)
{
    std::string text;
    for (const std::wstring& arg : args) {
        text += "[" + utf8(arg) + "] ";
    }
    return text;
}

// Two folders deep under the scratch folder, past 260 characters.
const std::wstring long_folder = std::wstring(150, L'd') + L"\\" + std::wstring(150, L'e');

// A scratch folder, the working folder of every run, holding:
//   a.txt, b.txt, ro.txt (read-only), out\ (with x.txt), data\ (with
//   one.txt, two.log and the folder inner\ with deep.txt), and the long
//   folder with long.txt.
class CommandLineRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        make_file(scratch / L"a.txt", "alpha");
        make_file(scratch / L"b.txt", "beta");
        make_file(scratch / L"ro.txt", "read only", base_seconds, FILE_ATTRIBUTE_READONLY);
        make_folder(scratch / L"out");
        make_file(scratch / L"out\\x.txt", "old x");
        make_folder(scratch / L"data");
        make_file(scratch / L"data\\one.txt", "one");
        make_file(scratch / L"data\\two.log", "two");
        make_folder(scratch / L"data\\inner");
        make_file(scratch / L"data\\inner\\deep.txt", "deep");
        make_folder(scratch / long_folder.substr(0, 150));
        make_folder(scratch / long_folder);
        make_file(scratch / (long_folder + L"\\long.txt"), "long");
    }

    RunResult run(const std::vector<std::wstring>& args)
    {
        return run_tolvi(args, {scratch.path(), false});
    }

    ScratchFolder scratch;
};

} // namespace

// Every refused command line ends with one message on standard error,
// exit code 2, and leaves every file as it was. A pattern that matched
// nothing in its existing folder writes its message first and the rest
// is still checked: exit 1 only when nothing else is wrong.
TEST_F(CommandLineRun, RefusedCommandLinesTouchNothing)
{
    const std::wstring long_source = long_folder + L"\\long.txt";
    const std::wstring long_missing = long_folder + L"\\none.txt";
    const std::wstring long_new = L"out\\" + std::wstring(300, L'n') + L".txt";
    const std::string not_together = " - Parameter is not able to use together.\r\n";
    const std::string wildcard_name = "Cannot specify destination file name when using wildcard copy.\r\n";
    const std::string no_match = "no*.txt - File or folder was not found.\r\n";
    const struct {
        std::vector<std::wstring> args;
        std::string err;
        int exit_code = 2;
    } rows[] = {
        // Options.
        {{L"", L"a.txt"}, "Empty parameter is specified.\r\n"},
        {{L"a.txt", L"out", L""}, "Empty parameter is specified.\r\n"},
        {{L"/x", L""}, "/x - Parameter is invalid.\r\n"},
        {{L"/x", L"/q", L"/v"}, "/x - Parameter is invalid.\r\n"},
        {{L"/af", L"a.txt"}, "/af - Parameter is invalid.\r\n"},
        {{L"-a", L"a.txt"}, "-a - File or folder was not found.\r\n"},
        {{L"/q", L"/v", L"a.txt"}, "/l /q /t /v" + not_together},
        {{L"/l", L"/q", L"a.txt"}, "/l /q /t /v" + not_together},
        {{L"/T", L"/L", L"a.txt"}, "/l /q /t /v" + not_together},
        {{L"a.txt", L"out", L"/v", L"/t"}, "/l /q /t /v" + not_together},
        {{L"/p", L"/e", L"/q", L"a.txt"}, "/e /p" + not_together},
        {{L"/p", L"/e", L"a.txt"}, "/e /p" + not_together},
        {{L"/p", L"/q", L"a.txt"}, "/p /q" + not_together},
        {{L"/f", L"/m"}, "Copy source parameter is not specified.\r\n"},
        {{L"/q", L"/v"}, "/l /q /t /v" + not_together},
        // Positional arguments.
        {{L"a.txt", L"out", L"b.txt"}, "b.txt - Parameter is invalid.\r\n"},
        {{L"a.txt", L"out", L"/x"}, "/x - Parameter is invalid.\r\n"},
        {{L"nothing.txt", L"/x"}, "nothing.txt - File or folder was not found.\r\n"},
        {{L"a|b"}, "a|b - File name or folder name is invalid.\r\n"},
        {{L"a<b"}, "a<b - File name or folder name is invalid.\r\n"},
        {{L"a>b"}, "a>b - File name or folder name is invalid.\r\n"},
        {{L"a\"b"}, "a\"b - File name or folder name is invalid.\r\n"},
        {{L"out/a.txt"}, "out/a.txt - File name or folder name is invalid.\r\n"},
        {{L"a.txt", L"out|x"}, "out|x - File name or folder name is invalid.\r\n"},
        {{L"nothing.txt"}, "nothing.txt - File or folder was not found.\r\n"},
        {{L"no*.txt", L"out"}, no_match, 1},
        {{L"no*.txt"}, no_match + "Cannot copy to same folder.\r\n"},
        {{L"/q", L"no*.txt", L"out", L"/v"}, no_match + "/l /q /t /v" + not_together},
        {{L"no*.txt", L"nowhere\\"}, no_match + wildcard_name},
        {{L"nowhere\\no*.txt"}, "nowhere\\no*.txt - File or folder was not found.\r\n"},
        {{L"nowhere\\a.txt", L"out"}, "nowhere\\a.txt - File or folder was not found.\r\n"},
        {{L"NUL"}, "NUL - Not a file or folder.\r\n"},
        {{L"a.txt", L"nul"}, "nul - Not a file or folder.\r\n"},
        {{L"*.txt", L"out\\x.txt"}, wildcard_name},
        {{L"*.txt", L"out\\new.txt"}, wildcard_name},
        {{L"*.txt", L"newdir"}, wildcard_name},
        {{L"data", L"a.txt"}, wildcard_name},
        {{L"a.txt", L"nowhere\\b.txt"}, "nowhere\\b.txt - Folder was not found.\r\n"},
        {{L"a.txt", L"out\\b*.txt"}, "out\\b*.txt - File name is invalid.\r\n"},
        {{L"a.txt", L"out\\b?.txt"}, "out\\b?.txt - File name is invalid.\r\n"},
        {{L"a.txt", L"nowhere\\b*.txt"}, "nowhere\\b*.txt - Folder was not found.\r\n"},
        // Paths past the 260-character full-path buffer.
        {{long_source, L"out"}, utf8(long_source) + " - File name or folder name is invalid.\r\n"},
        {{long_missing, L"out"}, utf8(long_missing) + " - File name or folder name is invalid.\r\n"},
        {{L"a.txt", long_new}, utf8(long_new) + " - File name is invalid.\r\n"},
        // Special arguments are not special among others.
        {{L"/?", L"a.txt"}, "/? - Parameter is invalid.\r\n"},
    };
    const auto before = snapshot_of(scratch.path());
    ASSERT_EQ(before.size(), 13u);
    for (const auto& row : rows) {
        const RunResult result = run(row.args);
        EXPECT_EQ(result.exit_code, row.exit_code) << describe(row.args);
        EXPECT_EQ(result.out, "") << describe(row.args);
        EXPECT_EQ(result.err, row.err) << describe(row.args);
        EXPECT_EQ(snapshot_of(scratch.path()), before) << describe(row.args);
    }
}

TEST_F(CommandLineRun, NewDestinationFileInAnExistingFolder)
{
    const RunResult result = run({L"a.txt", L"out\\new.txt"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "Copy: a.txt -> new.txt\r\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file(scratch / L"out\\new.txt"), "alpha");
    EXPECT_EQ(read_file(scratch / L"a.txt"), "alpha");
}

TEST_F(CommandLineRun, FolderSourceCopiesItsOwnFilesOnly)
{
    const RunResult result = run({L"/l", L"data", L"out"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "2 file(s) copied.\r\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(list_folder(scratch / L"out\\"),
              (std::vector<std::wstring>{L"one.txt", L"two.log", L"x.txt"}));
    EXPECT_EQ(read_file(scratch / L"out\\one.txt"), "one");
}

// /MR is one option setting both move flags: a read-only source is moved
// under /MR but refused under /M.
TEST_F(CommandLineRun, MoveReadOnlyNeedsTheSecondFlag)
{
    RunResult result = run({L"/M", L"ro.txt", L"out"});
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, utf8(scratch / L"ro.txt") + " - Read only file.\r\n");
    EXPECT_EQ(read_file(scratch / L"ro.txt"), "read only");
    EXPECT_FALSE(file_exists(scratch / L"out\\ro.txt"));

    result = run({L"/MR", L"ro.txt", L"out"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "Move: ro.txt\r\n");
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(file_exists(scratch / L"ro.txt"));
    EXPECT_EQ(read_file(scratch / L"out\\ro.txt"), "read only");
    EXPECT_EQ(attributes_of(scratch / L"out\\ro.txt") & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

// /l with /f: quiet, no question, and the counts at the end; options may
// follow the positional arguments.
TEST_F(CommandLineRun, CountOnlyCopiesAndCounts)
{
    make_file(scratch / L"out\\a.txt", "old a", base_seconds - 100);
    const RunResult result = run({L"*.txt", L"out", L"/L", L"/F"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "2 file(s) copied.\r\n1 file(s) copied over.\r\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file(scratch / L"out\\a.txt"), "alpha");
    EXPECT_EQ(read_file(scratch / L"out\\b.txt"), "beta");
    EXPECT_EQ(read_file(scratch / L"out\\ro.txt"), "read only");
}

// /p with /l passes the checks (/l implies quiet only afterwards) and
// runs: the existing a.txt is overwritten under /f and counted, while the
// new b.txt would need the copy question, which cannot be asked with
// standard error redirected, so it is not copied; nobody chose that, so
// it is written as a refusal, and the exit code is 3.
TEST_F(CommandLineRun, PromptNewWithCountOnlyRuns)
{
    make_file(scratch / L"out\\a.txt", "old a", base_seconds - 100);
    const RunResult result = run({L"/p", L"/l", L"/f", L"?.txt", L"out"});
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_EQ(result.out, "1 file(s) copied over.\r\n");
    EXPECT_EQ(result.err, utf8(scratch / L"out\\b.txt") + " - Copy question could not be asked.\r\n");
    EXPECT_EQ(read_file(scratch / L"out\\a.txt"), "alpha");
    EXPECT_FALSE(file_exists(scratch / L"out\\b.txt"));
}

// A nightly batch file, as cmd runs it: "if errorlevel 3" catches a file
// that was refused (here a read-only copy that cannot be written over),
// "if errorlevel 2" a run that never started (a mistyped option, a missing
// source, a destination folder renamed away), and "if errorlevel 1" alone
// a run that had nothing to do: a /u run that found the copy up to date,
// or a pattern that matched nothing in its folder.
TEST_F(CommandLineRun, BatchFileTellsARunThatNeverStarted)
{
    const std::string tolvi = "\"" + utf8(tolvi_exe()) + "\"";
    const std::string verdict = " >> log.txt 2>&1\r\n"
                                "if errorlevel 3 (echo refused) else if errorlevel 2 (echo not started) "
                                "else if errorlevel 1 (echo nothing to do) else echo done\r\n";
    make_file(scratch / L"nightly.cmd", "@echo off\r\n" +
                                            tolvi + " /z /u /q a.txt out" + verdict +
                                            tolvi + " /u /q nothing.txt out" + verdict +
                                            tolvi + " /u /q *.txt renamed" + verdict +
                                            tolvi + " /u /q *.pdf out" + verdict +
                                            tolvi + " /u /q a.txt out" + verdict +
                                            tolvi + " /u /q a.txt out" + verdict +
                                            tolvi + " /u /q ro.txt out" + verdict +
                                            tolvi + " /u /q ro.txt out" + verdict);
    wchar_t system[MAX_PATH];
    ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const RunResult result = run_program(std::wstring(system) + L"\\cmd.exe",
                                         {L"/c", L"nightly.cmd"}, {scratch.path(), false});
    EXPECT_EQ(result.out, "not started\r\nnot started\r\nnot started\r\nnothing to do\r\n"
                          "done\r\nnothing to do\r\ndone\r\nrefused\r\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file(scratch / L"log.txt"),
              "/z - Parameter is invalid.\r\n"
              "nothing.txt - File or folder was not found.\r\n"
              "Cannot specify destination file name when using wildcard copy.\r\n"
              "*.pdf - File or folder was not found.\r\n" +
                  utf8(scratch / L"out\\ro.txt") + " - Write prohibited file.\r\n");
    EXPECT_EQ(read_file(scratch / L"out\\a.txt"), "alpha");
    EXPECT_EQ(read_file(scratch / L"out\\ro.txt"), "read only");
}

// Faults from outside the run: a destination volume that fills up, files
// that another program holds open or removes, a destination folder that
// goes away or turns unwritable, one file reached by several routes, and
// hostile names. The exe must report each with its own messages, go on
// with the next file, and lose or corrupt no file.
#include "e2e_support.h"
#include "host_shell.h"
#include "run_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring numbered(int i)
{
    wchar_t name[16];
    swprintf(name, 16, L"f%04d.txt", i);
    return name;
}

std::string contents_of(int i)
{
    return "contents of file " + std::to_string(i) + "\n";
}

// Source and destination folders of one test, with `count` numbered files.
struct Scene {
    explicit Scene(int count = 0)
    {
        make_folder(src);
        make_folder(dst);
        for (int i = 0; i < count; ++i) {
            make_file(src + numbered(i), contents_of(i));
        }
    }
    ScratchFolder scratch;
    std::wstring src = scratch / L"src\\";
    std::wstring dst = scratch / L"dst\\";
    std::wstring dst_arg() const { return dst.substr(0, dst.size() - 1); }
};

// Waits (at most 30 s) until `ready` holds, then runs `action`; on a
// thread of its own, so the exe runs meanwhile.
std::thread when(std::function<bool()> ready, std::function<void()> action)
{
    return std::thread([ready, action] {
        for (int wait = 0; wait < 30000 && !ready(); ++wait) {
            Sleep(1);
        }
        action();
    });
}

std::thread when_exists(const std::wstring& path, std::function<void()> action)
{
    return when([path] { return file_exists(path); }, action);
}

// True once `folder` holds at least `count` entries, under any names: a
// copy has begun there.
std::function<bool()> holds(const std::wstring& folder, std::size_t count = 1)
{
    return [folder, count] { return list_folder(folder).size() >= count; };
}

// A sparse file of `size` bytes, quick to make and slow enough to copy
// that the copy can be caught half-way; last written at `seconds` (since
// 1601) when that is not 0.
void make_large_file(const std::wstring& path, long long size, std::uint64_t seconds = 0)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    EXPECT_TRUE(SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof(end)));
    if (seconds != 0) {
        ULARGE_INTEGER units{};
        units.QuadPart = seconds * 10000000u;
        const FILETIME time{units.LowPart, units.HighPart};
        EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
    }
    CloseHandle(file);
}

long long size_of(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Runs the exe and kills it (TerminateProcess: no handler of its own runs;
// under Wine a SIGKILL) as soon as `folder` holds a file.
RunResult killed_once_copying_into(const std::wstring& folder, const std::wstring& options,
                                   const std::vector<std::wstring>& paths)
{
    RunOptions run;
    run.kill_when = holds(folder);
    std::vector<std::wstring> args = {options};
    args.insert(args.end(), paths.begin(), paths.end());
    return run_tolvi(args, run);
}

// Checks that `out` holds one line per numbered file, in order: `verb`
// and the name, with the error mark on every line from some file on.
// Returns the index of the first failed file (`count` when none failed).
int first_failure(const std::string& out, const std::string& verb, int count)
{
    std::istringstream lines(out);
    std::string line;
    int first = count;
    for (int i = 0; i < count; ++i) {
        if (!std::getline(lines, line)) {
            ADD_FAILURE() << "no line for file " << i;
            return i;
        }
        const std::string done = verb + utf8(numbered(i));
        if (first == count && line != done + "\r") {
            first = i;
        }
        EXPECT_EQ(line, done + (i >= first ? " ###Error###\r" : "\r"));
    }
    EXPECT_FALSE(std::getline(lines, line)) << "a line more than files: " << line;
    return first;
}

// `path`, under the test root, by the root's second drive letter
// (TOLVI_TEST_ALIAS_ROOT: X: under scripts/test.sh); empty when there is
// none.
std::wstring by_second_letter(const std::wstring& path)
{
    const char* alias = std::getenv("TOLVI_TEST_ALIAS_ROOT");
    if (alias == nullptr || *alias == '\0') {
        return L"";
    }
    const std::wstring other = std::wstring(alias, alias + std::strlen(alias)) +
                               path.substr(test_root().size());
    return file_exists(other.substr(0, other.find_last_of(L'\\'))) ? other : L"";
}

// Files made through the \\?\ prefix under names that an ordinary path
// changes; the scratch folder's clean-up cannot reach them, so they are
// removed the same way.
struct Unreachable {
    std::vector<std::wstring> paths;
    void make(const std::wstring& path, const std::string& contents)
    {
        make_file(L"\\\\?\\" + path, contents);
        paths.push_back(path);
    }
    ~Unreachable()
    {
        for (const std::wstring& path : paths) {
            DeleteFileW((L"\\\\?\\" + path).c_str());
        }
    }
};

} // namespace

// A copy or move that fills the destination volume fails for that file
// alone: the line ends in the error mark (the path and " - Error during
// copy." under /q), the run goes on, and the source stays as it was. What
// the failed copy wrote is removed, under every name and whatever bits it
// carries (a read-only source's), so the next file finds the room it
// needs, and a second run fails the same way.
TEST(FullVolume, FailedFileIsReportedAndTheRunGoesOn)
{
    Scene run;
    const std::wstring full = run.scratch / L"full\\";
    make_folder(full);
    HostChange volume("mount -t tmpfs -o size=256k tolvi_test " + quoted(unix_path(full)),
                      "umount " + quoted(unix_path(full)));
    REQUIRE_HOST(volume, "a small tmpfs mounted on a folder of the scratch drive");
    const std::string a(100000, 'a');
    const std::string b(300000, 'b');  // larger than what is left
    const std::string c_bin(50000, 'c');  // fits only if b's partial copy is gone
    struct Case {
        const wchar_t* options;
        const char* out;
        const char* again;  // the second run: a.bin and c.bin are there
        bool message;
        bool move;
        bool unasked_again;  // without /f the second run cannot ask about them
        DWORD b_attributes = 0;
    };
    const Case cases[] = {
        {L"", "Copy: a.bin\r\nCopy: b.bin ###Error###\r\nCopy: c.bin\r\n",
         "Copy: b.bin ###Error###\r\n", false, false, true},
        {L"/q", "", "", true, false, false},
        {L"/q", "", "", true, false, false, FILE_ATTRIBUTE_READONLY},
        {L"/m", "Move: a.bin\r\nMove: b.bin ###Error###\r\nMove: c.bin\r\n",
         "Move: b.bin ###Error###\r\n", false, true, false},
        {L"/m /q", "", "", true, true, false},
    };
    for (const Case& c : cases) {
        remove_tree(run.src);
        make_folder(run.src);
        make_file(run.src + L"a.bin", a);
        make_file(run.src + L"b.bin", b, base_seconds, c.b_attributes);
        make_file(run.src + L"c.bin", c_bin);
        for (const std::wstring& name : list_folder(full)) {
            set_attributes(full + name, FILE_ATTRIBUTE_NORMAL);
            DeleteFileW((full + name).c_str());
        }
        const std::string message = c.message ? utf8(full) + "b.bin - Error during copy.\r\n" : "";
        const std::string unasked = utf8(full) + "a.bin - Overwrite question could not be asked.\r\n" +
                                    utf8(full) + "c.bin - Overwrite question could not be asked.\r\n";
        for (const bool again : {false, true}) {
            const RunResult result = tolvi(c.options, {run.src + L"*.bin", full});
            EXPECT_EQ(result.exit_code, 3) << utf8(c.options);
            EXPECT_EQ(result.out, again ? c.again : c.out) << utf8(c.options);
            EXPECT_EQ(result.err, again && c.unasked_again ? unasked : message) << utf8(c.options);
            EXPECT_EQ(list_folder(full), (std::vector<std::wstring>{L"a.bin", L"c.bin"}))
                << utf8(c.options) << ": nothing of b.bin is left";
            EXPECT_TRUE(read_file(full + L"a.bin") == a);
            EXPECT_TRUE(read_file(full + L"c.bin") == c_bin);
            EXPECT_TRUE(read_file(run.src + L"b.bin") == b) << "the failed file's source stays";
            EXPECT_EQ(file_exists(run.src + L"a.bin"), !c.move);
        }
    }
}

// An overwrite that fills the volume leaves the old copy as it was, with
// its read-only bit where /r had cleared it, and nothing under the
// staging name: the file after it finds the room, and the next run
// reports the file again instead of taking a partial copy for up to date.
TEST(FullVolume, OverwriteKeepsTheOldCopy)
{
    Scene run;
    const std::wstring full = run.scratch / L"full\\";
    make_folder(full);
    HostChange volume("mount -t tmpfs -o size=256k tolvi_test " + quoted(unix_path(full)),
                      "umount " + quoted(unix_path(full)));
    REQUIRE_HOST(volume, "a small tmpfs mounted on a folder of the scratch drive");
    const std::string old_copy(100000, 'o');
    const std::string big(300000, 'n');   // more than the volume holds
    const std::string small(50000, 's');  // fits only beside the old copy alone
    make_file(run.src + L"big.bin", big, base_seconds + 60);
    make_file(run.src + L"small.bin", small, base_seconds + 60);
    for (const DWORD old_bits : {DWORD{0}, DWORD{FILE_ATTRIBUTE_READONLY}}) {
        SCOPED_TRACE(old_bits);
        for (const std::wstring& name : list_folder(full)) {
            set_attributes(full + name, FILE_ATTRIBUTE_NORMAL);
            DeleteFileW((full + name).c_str());
        }
        make_file(full + L"big.bin", old_copy, base_seconds, old_bits);
        const DWORD old_attributes = attributes_of(full + L"big.bin");
        for (int round = 0; round < 2; ++round) {
            expect_run(tolvi(L"/u /r /f /q", {run.src + L"*.bin", full}), 3, "",
                       utf8(full) + "big.bin - Error during copy.\r\n");
            EXPECT_EQ(list_folder(full), (std::vector<std::wstring>{L"big.bin", L"small.bin"}));
            EXPECT_TRUE(read_file(full + L"big.bin") == old_copy) << "the old copy is whole";
            EXPECT_EQ(attributes_of(full + L"big.bin"), old_attributes);
            EXPECT_EQ(last_write_seconds(full + L"big.bin"), base_seconds);
            EXPECT_TRUE(read_file(full + L"small.bin") == small);
        }
    }
}

// The exe killed while it copies a large new file: the file's name is
// absent or holds the complete file, never a part of it, so a later /u
// run (which trusts what stands under the name) copies it, and replaces
// what the killed run left under its staging name.
TEST(KilledRun, NewFileIsAbsentOrCompleteAndUpdateFinishesIt)
{
    Scene run;
    constexpr long long size = 256ll << 20;
    make_large_file(run.src + L"big.bin", size);
    make_file(run.src + L"small.txt", "small");
    const RunResult killed =
        killed_once_copying_into(run.dst, L"/q", {run.src + L"big.bin", run.dst_arg()});
    ASSERT_EQ(killed.exit_code, killed_exit_code) << "the copy ended before the kill";
    const long long left = size_of(run.dst + L"big.bin");
    EXPECT_TRUE(left == -1 || left == size) << left;

    expect_run(tolvi(L"/u", {run.src + L"*", run.dst_arg()}), 0,
               left == -1 ? "Copy: big.bin\r\nCopy: small.txt\r\n" : "Copy: small.txt\r\n", "");
    EXPECT_EQ(list_folder(run.dst), (std::vector<std::wstring>{L"big.bin", L"small.txt"}));
    EXPECT_EQ(size_of(run.dst + L"big.bin"), size);
    EXPECT_EQ(last_write_seconds(run.dst + L"big.bin"), last_write_seconds(run.src + L"big.bin"));
}

// The exe killed while it copies a large file over an older copy, by a
// nightly /u /f job and by an /e /f one: the name holds the old copy or the
// new one, never a part of it, and the same job run again leaves exactly
// the new copy and nothing beside it.
TEST(KilledRun, OverwriteLeavesTheOldCopyOrTheNewOne)
{
    constexpr long long old_size = 64ll << 20;
    constexpr long long new_size = 256ll << 20;
    const std::uint64_t old_time = base_seconds;
    const std::uint64_t new_time = base_seconds + 3600;
    for (const wchar_t* job : {L"/u", L"/e", L"/r"}) {
        SCOPED_TRACE(utf8(job));
        Scene run;
        const std::wstring big = run.dst + L"big.bin";
        make_large_file(run.src + L"big.bin", new_size, new_time);
        make_large_file(big, old_size, old_time);
        // Under /r the old copy is read-only, and keeps the bit until its replace.
        const DWORD old_bit = job[1] == L'r' ? FILE_ATTRIBUTE_READONLY : 0;
        set_attributes(big, old_bit | FILE_ATTRIBUTE_ARCHIVE);
        RunOptions kill;
        // The copy has begun: a second name in the folder, or the old copy changed.
        kill.kill_when = [&] {
            return list_folder(run.dst).size() > 1 || size_of(big) != old_size;
        };
        const RunResult killed = run_tolvi({job, L"/f", run.src + L"*", run.dst_arg()}, kill);
        ASSERT_EQ(killed.exit_code, killed_exit_code) << "the copy ended before the kill";
        const bool old_left = size_of(big) == old_size;
        EXPECT_EQ(size_of(big), old_left ? old_size : new_size);
        EXPECT_EQ(last_write_seconds(big), old_left ? old_time : new_time);
        EXPECT_EQ(attributes_of(big) & FILE_ATTRIBUTE_READONLY, old_left ? old_bit : 0);

        const bool again = old_left || job[1] != L'u';
        expect_run(tolvi(std::wstring(job) + L" /f", {run.src + L"*", run.dst_arg()}),
                   again ? 0 : 1, again ? "Update: big.bin\r\n" : "", "");
        EXPECT_EQ(list_folder(run.dst), std::vector<std::wstring>{L"big.bin"});
        EXPECT_EQ(size_of(big), new_size);
        EXPECT_EQ(last_write_seconds(big), new_time);
    }
}

// A run killed while it copies its fourth file: its redirected log holds
// the lines of the three files it finished, each written out as it ended,
// and nothing of the fourth, whose line was begun but not ended.
TEST(KilledRun, LogHoldsTheLinesOfTheFilesFinished)
{
    Scene run;
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt"}) {
        make_file(run.src + name, "small");
    }
    make_large_file(run.src + L"d.bin", 256ll << 20);
    RunOptions options;
    options.kill_when = holds(run.dst, 4);
    const RunResult killed = run_tolvi({run.src + L"*", run.dst_arg()}, options);
    ASSERT_EQ(killed.exit_code, killed_exit_code) << "the copy ended before the kill";
    EXPECT_EQ(killed.out, "Copy: a.txt\r\nCopy: b.txt\r\nCopy: c.txt\r\n");
    EXPECT_EQ(killed.err, "");
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt"}) {
        EXPECT_EQ(read_file(run.dst + name), "small");
    }
}

// A move to another file system copies and then deletes. Killed half-way,
// it leaves the source complete and the destination's name absent (or
// complete); a second move finishes the job. A source that cannot be
// deleted after its copy fails the move and leaves both copies whole.
TEST(KilledRun, MoveToAnotherFileSystem)
{
    const std::wstring other_root = other_fs_root();
    if (other_root.empty()) {
        GTEST_SKIP() << "needs TOLVI_TEST_OTHER_FS_ROOT, a drive on another file system "
                        "(scripts/test.sh maps W: to a tmpfs mounted on build/scratch_other, as root)";
    }
    Scene run;
    ScratchFolder other(other_root);
    const std::wstring to = other.path();
    constexpr long long size = 256ll << 20;
    make_large_file(run.src + L"big.bin", size);
    const std::wstring to_arg = to.substr(0, to.size() - 1);
    const RunResult killed = killed_once_copying_into(to, L"/m", {run.src + L"big.bin", to_arg});
    ASSERT_EQ(killed.exit_code, killed_exit_code) << "the move ended before the kill";
    EXPECT_EQ(size_of(run.src + L"big.bin"), size);
    const long long left = size_of(to + L"big.bin");
    EXPECT_TRUE(left == -1 || left == size) << left;

    expect_run(tolvi(L"/m /f", {run.src + L"big.bin", to_arg}), 0,
               left == -1 ? "Move: big.bin\r\n" : "Update Move: big.bin\r\n", "");
    EXPECT_EQ(list_folder(run.src), std::vector<std::wstring>{});
    EXPECT_EQ(list_folder(to), std::vector<std::wstring>{L"big.bin"});
    EXPECT_EQ(size_of(to + L"big.bin"), size);

    // Another program opens the source, without letting it be deleted,
    // once its copy has begun.
    make_large_file(run.src + L"held.bin", size);
    HANDLE held = INVALID_HANDLE_VALUE;
    std::thread holder = when(holds(to, 2), [&] {
        held = CreateFileW((run.src + L"held.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    });
    const RunResult result = tolvi(L"/m", {run.src + L"held.bin", to_arg});
    holder.join();
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    CloseHandle(held);
    expect_run(result, 3, "Move: held.bin ###Error###\r\n", "");
    EXPECT_EQ(size_of(run.src + L"held.bin"), size);
    EXPECT_EQ(size_of(to + L"held.bin"), size);
    EXPECT_EQ(list_folder(to), (std::vector<std::wstring>{L"big.bin", L"held.bin"}));

    // Under /mr a read-only source is deleted after its copy all the same.
    make_file(run.src + L"r.txt", "read-only", base_seconds, FILE_ATTRIBUTE_READONLY);
    expect_run(tolvi(L"/mr", {run.src + L"r.txt", to_arg}), 0, "Move: r.txt\r\n", "");
    EXPECT_FALSE(file_exists(run.src + L"r.txt"));
    EXPECT_EQ(read_file(to + L"r.txt"), "read-only");
    EXPECT_EQ(attributes_of(to + L"r.txt") & FILE_ATTRIBUTE_READONLY,
              DWORD{FILE_ATTRIBUTE_READONLY});
}

// What a killed run left under a file's staging name, read-only and
// hidden too, is replaced by the next copy of that file, whatever the
// length of its name: nothing piles up, and the copy has the source's
// contents and attributes, not the leftover's.
TEST(KilledRun, LeftoverStagingFileIsReplaced)
{
    Scene run;
    const std::wstring long_name = std::wstring(251, L'n') + L".txt";
    const struct {
        std::wstring name;
        const wchar_t* staging;
        DWORD leftover_attributes;
    } files[] = {
        {L"a.txt", L"~tolvi-57B4A5F14C6728DA.tmp", 0},
        {L"b.txt", L"~tolvi-ABFDA20B3F330EA3.tmp", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
        {long_name, L"~tolvi-1AF5BF0ACF47931F.tmp", FILE_ATTRIBUTE_READONLY},
    };
    std::string out;
    for (const auto& file : files) {
        make_file(run.src + file.name, "whole " + utf8(file.name));
        make_file(run.dst + file.staging, "part", base_seconds + 3600, file.leftover_attributes);
        out += "Copy: " + utf8(file.name) + "\r\n";
    }
    expect_run(tolvi(L"/u", {run.src + L"*.txt", run.dst_arg()}), 0, out, "");
    EXPECT_EQ(list_folder(run.dst), (std::vector<std::wstring>{L"a.txt", L"b.txt", long_name}));
    for (const auto& file : files) {
        EXPECT_EQ(read_file(run.dst + file.name), "whole " + utf8(file.name));
        EXPECT_EQ(attributes_of(run.dst + file.name), attributes_of(run.src + file.name));
    }

    // A leftover copied by hand, in its own folder, to the name it stands
    // for is itself the staging file: it must be copied, not replaced, also
    // over an older copy, and also when the destination names the folder
    // by another drive letter or in the \\?\ form.
    const std::wstring leftover = run.dst + L"~tolvi-57B4A5F14C6728DA.tmp";
    make_file(leftover, "rescued");
    std::vector<std::wstring> routes = {run.dst + L"a.txt", L"\\\\?\\" + run.dst + L"a.txt"};
    const std::wstring by_x = by_second_letter(run.dst + L"a.txt");
    if (!by_x.empty()) {
        routes.push_back(by_x);
    }
    for (const std::wstring& to : routes) {
        for (const char* verb : {"Copy: ", "Update: "}) {
            SCOPED_TRACE(utf8(to) + " " + verb);
            if (*verb == 'C') {
                DeleteFileW((run.dst + L"a.txt").c_str());
            } else {
                make_file(run.dst + L"a.txt", "old", base_seconds - 60);
            }
            expect_run(tolvi(L"/f", {leftover, to}), 0,
                       std::string(verb) + "~tolvi-57B4A5F14C6728DA.tmp -> a.txt\r\n", "");
            EXPECT_EQ(read_file(leftover), "rescued");
            EXPECT_EQ(read_file(run.dst + L"a.txt"), "rescued");
        }
    }

    // Its file gone from the source, the leftover outlives the runs; a job
    // whose source is this folder passes it over, as it passes over
    // folders, and a pattern that matches only leftovers has no file.
    const std::wstring next = run.scratch / L"next\\";
    make_folder(next);
    make_file(run.dst + L"~tolvi-0123456789abcdef.tmp", "leftover");
    make_file(run.dst + L"~TOLVI-FEDCBA9876543210.TMP", "leftover");
    expect_run(tolvi(L"/u /f", {run.dst_arg(), next}), 0,
               "Copy: a.txt\r\nCopy: b.txt\r\nCopy: " + utf8(long_name) + "\r\n", "");
    EXPECT_EQ(list_folder(next), (std::vector<std::wstring>{L"a.txt", L"b.txt", long_name}));
    expect_run(tolvi(L"", {run.dst + L"~tolvi-*", next}), 1, "",
               utf8(run.dst) + "~tolvi-* - File was not found.\r\n");
    // Names one digit off the staging form are ordinary files.
    for (const wchar_t* name : {L"~tolvi-57B4A5F14C6728D.tmp", L"~tolvi-57B4A5F14C6728DAA.tmp",
                                L"~tolvi-57B4A5F14C6728DG.tmp"}) {
        make_file(run.dst + name, "ordinary");
        expect_run(tolvi(L"", {run.dst + L"~tolvi-*", next}), 0, "Copy: " + utf8(name) + "\r\n",
                   "");
        DeleteFileW((run.dst + name).c_str());
    }
}

// Under a file's staging name stands what Tolvi did not make: a symbolic
// link (made on the Linux side; Wine follows it in every call) to a
// read-only file. The copy and the overwrite are refused with the copy's
// error, the link stays, and the file it points to keeps its contents and
// its bit.
TEST(KilledRun, LinkUnderTheStagingNameIsLeftAlone)
{
    Scene run;
    const std::wstring target = run.scratch / L"target.txt";
    make_file(target, "someone's", base_seconds, FILE_ATTRIBUTE_READONLY);
    make_file(run.src + L"c.txt", "new c", base_seconds + 60);
    const std::wstring staging = L"~tolvi-DA903F01F4046CF4.tmp";
    const std::string link = quoted(unix_path(run.dst) + "/" + utf8(staging));
    HostChange symlink("ln -s ../target.txt " + link, "rm -f " + link);
    REQUIRE_HOST(symlink, "a symbolic link made on the Linux side");
    for (const char* verb : {"Copy: ", "Update: "}) {
        if (*verb == 'U') {
            make_file(run.dst + L"c.txt", "old c");
        }
        expect_run(tolvi(L"/f", {run.src + L"c.txt", run.dst_arg()}), 3,
                   std::string(verb) + "c.txt ###Error###\r\n",
                   utf8(run.dst + staging) + " - Temporary file of an interrupted copy cannot be "
                                              "removed. Remove it and run again.\r\n");
        EXPECT_EQ(read_file(target), "someone's");
        EXPECT_EQ(attributes_of(target) & FILE_ATTRIBUTE_READONLY, DWORD{FILE_ATTRIBUTE_READONLY});
        EXPECT_EQ(read_file(run.dst + L"c.txt"), *verb == 'U' ? "old c" : "<missing>");
    }
}

// Another program holds the middle file open without sharing: it is
// reported and left alone, the files around it are moved.
TEST(AnotherProgram, HoldingASourceOpenStopsOnlyThatFile)
{
    Scene run(3);
    const std::wstring held_path = run.src + numbered(1);
    HANDLE held = CreateFileW(held_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const RunResult result = tolvi(L"/m", {run.src + L"*", run.dst_arg()});
    CloseHandle(held);
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_EQ(result.out, "Move: f0000.txt\r\nMove: f0002.txt\r\n");
    EXPECT_EQ(result.err, utf8(held_path) + " - File was not able to open.\r\n");
    EXPECT_EQ(list_folder(run.src), std::vector<std::wstring>{numbered(1)});
    EXPECT_EQ(read_file(held_path), contents_of(1));
    EXPECT_EQ(list_folder(run.dst), (std::vector<std::wstring>{numbered(0), numbered(2)}));
}

// A source removed after the listing and before its turn is reported as
// not found; every other file is copied. The file before it is large, so
// that it is removed while that one is being copied.
TEST(AnotherProgram, SourceRemovedDuringAPatternRun)
{
    constexpr int count = 20;
    Scene run(count);
    const std::string large(64 << 20, 'x');
    make_file(run.src + numbered(1), large);
    const std::wstring removed = run.src + numbered(2);
    // Removed once the large file's copy has begun beside the first file.
    std::thread remover = when(holds(run.dst, 2), [&] { DeleteFileW(removed.c_str()); });
    const RunResult result = tolvi(L"", {run.src + L"*.txt", run.dst_arg()});
    remover.join();
    std::string out;
    for (int i = 0; i < count; ++i) {
        if (i != 2) {
            out += "Copy: " + utf8(numbered(i)) + "\r\n";
            EXPECT_EQ(read_file(run.dst + numbered(i)), i == 1 ? large : contents_of(i));
        }
    }
    EXPECT_EQ(result.out, out);
    EXPECT_FALSE(file_exists(run.dst + numbered(2)));
    // The listing is read in batches, the first of which holds the removed
    // file here, so it is listed; a system with a smaller first batch may
    // never list it, which is as good.
    const bool reported = !result.err.empty() || under_wine();
    EXPECT_EQ(result.err, reported ? utf8(removed) + " - File was not found.\r\n" : "");
    EXPECT_EQ(result.exit_code, reported ? 3 : 0);
}

// The destination folder is renamed away in the middle of a move: every
// file after that fails with the error mark and stays where it was; every
// file before it is whole in the renamed folder.
TEST(AnotherProgram, DestinationFolderRemovedDuringAMove)
{
    constexpr int count = 200;
    Scene run(count);
    const std::wstring gone = run.scratch / L"gone\\";
    std::thread remover = when_exists(run.dst + numbered(0), [&] {
        MoveFileW(run.dst_arg().c_str(), gone.substr(0, gone.size() - 1).c_str());
    });
    const RunResult result = tolvi(L"/m", {run.src + L"*.txt", run.dst_arg()});
    remover.join();
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_EQ(result.err, "");
    const int first = first_failure(result.out, "Move: ", count);
    EXPECT_LT(first, count) << "the folder went away only after the run";
    for (int i = 0; i < count; ++i) {
        const bool moved = i < first;
        EXPECT_EQ(read_file((moved ? gone : run.src) + numbered(i)), contents_of(i)) << i;
        EXPECT_FALSE(file_exists((moved ? run.src : gone) + numbered(i))) << i;
    }
    EXPECT_FALSE(file_exists(run.dst));
}

// The destination folder turns unwritable (immutable on the host) in the
// middle of a copy: from then on every file fails; nothing is lost and no
// copy is partial.
TEST(AnotherProgram, DestinationFolderMadeUnwritableDuringACopy)
{
    constexpr int count = 300;
    Scene run(count);
    const std::string folder = quoted(unix_path(run.dst));
    std::atomic<bool> frozen{false};
    std::thread freezer = when_exists(run.dst + numbered(0), [&] {
        frozen = run_host_script("chattr +i " + folder) == 0;
    });
    const RunResult result = tolvi(L"", {run.src + L"*.txt", run.dst_arg()});
    freezer.join();
    HostChange thaw("true", "chattr -i " + folder);  // undone whatever the checks find
    if (!frozen) {
        GTEST_SKIP() << "needs chattr on the Linux folder behind the drive (root under Wine)";
    }
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_EQ(result.err, "");
    const int first = first_failure(result.out, "Copy: ", count);
    EXPECT_LT(first, count) << "the folder froze only after the run";
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(read_file(run.dst + numbered(i)), i < first ? contents_of(i) : "<missing>") << i;
        EXPECT_EQ(read_file(run.src + numbered(i)), contents_of(i)) << i;
    }
}

// Another program makes a file under the name while a new file is being
// copied under its staging name: the copy never replaces that file. It is
// reported, the other program's file is kept, and the staging file goes.
// Another program removes the old copy while a file is copied over it:
// the new copy takes the free name.
TEST(AnotherProgram, NameTakenOrFreedDuringTheCopy)
{
    Scene run;
    constexpr long long size = 256ll << 20;
    make_large_file(run.src + L"big.bin", size);
    std::thread maker = when(holds(run.dst), [&] { make_file(run.dst + L"big.bin", "theirs"); });
    RunResult result = tolvi(L"", {run.src + L"big.bin", run.dst_arg()});
    maker.join();
    expect_run(result, 3, "Copy: big.bin ###Error###\r\n", "");
    EXPECT_TRUE(read_file(run.dst + L"big.bin") == "theirs");
    EXPECT_EQ(list_folder(run.dst), std::vector<std::wstring>{L"big.bin"});

    std::thread remover =
        when(holds(run.dst, 2), [&] { DeleteFileW((run.dst + L"big.bin").c_str()); });
    result = tolvi(L"/f", {run.src + L"big.bin", run.dst_arg()});
    remover.join();
    expect_run(result, 0, "Update: big.bin\r\n", "");
    EXPECT_EQ(size_of(run.dst + L"big.bin"), size);
    EXPECT_EQ(list_folder(run.dst), std::vector<std::wstring>{L"big.bin"});
}

// Another program (a scanner, an indexer) holds the staging file open
// without delete sharing until `hold_ms` after the copy is complete: 1.5 s
// is waited out, and the file arrives with nothing beside it; 8 s fails the
// file, the old copy stays whole with its read-only bit, and the staging
// file it could not remove goes in the next run.
TEST(AnotherProgram, HoldOnTheStagingFileIsWaitedOutOrFailsTheFile)
{
    constexpr long long size = 64ll << 20;
    const std::wstring staging = L"~tolvi-57B4A5F14C6728DA.tmp";  // of a.txt
    const struct { bool overwrite; DWORD hold_ms; } cases[] = {{false, 1500}, {true, 1500}, {true, 8000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.overwrite) + " " + std::to_string(c.hold_ms));
        Scene run;
        make_large_file(run.src + L"a.txt", size, base_seconds + 60);
        if (c.overwrite) {
            make_file(run.dst + L"a.txt", "old", base_seconds, FILE_ATTRIBUTE_READONLY);
        }
        std::atomic<bool> held_while_copying{false};
        std::thread holder = when_exists(run.dst + staging, [&] {
            HANDLE file = INVALID_HANDLE_VALUE;
            for (int wait = 0; wait < 30000 && file == INVALID_HANDLE_VALUE; ++wait) {
                file = CreateFileW((run.dst + staging).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            }
            held_while_copying = size_of(run.dst + staging) < size;
            while (size_of(run.dst + staging) < size) {
                Sleep(1);
            }
            Sleep(c.hold_ms);
            CloseHandle(file);
        });
        const RunResult result = tolvi(L"/r /f", {run.src + L"a.txt", run.dst_arg()});
        holder.join();
        ASSERT_TRUE(held_while_copying) << "the hold began after the copy was complete";
        const std::string line = c.overwrite ? "Update: a.txt" : "Copy: a.txt";
        if (c.hold_ms < 2000) {
            expect_run(result, 0, line + "\r\n", "");
            EXPECT_EQ(size_of(run.dst + L"a.txt"), size);
            EXPECT_EQ(list_folder(run.dst), std::vector<std::wstring>{L"a.txt"});
            continue;
        }
        expect_run(result, 3, line + " ###Error###\r\n", "");
        EXPECT_EQ(read_file(run.dst + L"a.txt"), "old");
        EXPECT_EQ(attributes_of(run.dst + L"a.txt") & FILE_ATTRIBUTE_READONLY, DWORD{FILE_ATTRIBUTE_READONLY});
        EXPECT_EQ(list_folder(run.dst), (std::vector<std::wstring>{L"a.txt", staging}));
        expect_run(tolvi(L"/r /f", {run.src + L"a.txt", run.dst_arg()}), 0, line + "\r\n", "");
        EXPECT_EQ(size_of(run.dst + L"a.txt"), size);
        EXPECT_EQ(list_folder(run.dst), std::vector<std::wstring>{L"a.txt"});
    }
}

// A destination folder where existing files may be written but no file
// made (chattr +i; on Windows a folder's rights can say the same): an
// overwrite is written in place, as a copy without staging does, and a new
// file fails as such a copy does.
TEST(AnotherProgram, FolderThatForbidsNewFilesGetsItsOverwrites)
{
    Scene run;
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt"}) {
        make_file(run.src + name, "new", base_seconds + 10);
    }
    make_file(run.dst + L"b.txt", "old b", base_seconds);
    make_file(run.dst + L"c.txt", "old c", base_seconds);
    const std::string folder = quoted(unix_path(run.dst));
    HostChange frozen("chattr +i " + folder, "chattr -i " + folder);
    REQUIRE_HOST(frozen, "chattr on the Linux folder behind the drive");
    expect_run(tolvi(L"/f", {run.src + L"*.txt", run.dst_arg()}), 3,
               "Copy: a.txt ###Error###\r\nUpdate: b.txt\r\nUpdate: c.txt\r\n", "");
    EXPECT_EQ(list_folder(run.dst), (std::vector<std::wstring>{L"b.txt", L"c.txt"}));
    EXPECT_EQ(read_file(run.dst + L"b.txt") + read_file(run.dst + L"c.txt"), "newnew");
}

// A destination folder where files can be made but not renamed or deleted
// (chattr +a on the Linux side; on Windows a drop-box share's rights): the
// copies and overwrites go to the real names, as a copy without staging
// makes them, and each name keeps at most one staging file, which later
// runs leave where it is and do not add to.
TEST(AnotherProgram, FolderThatForbidsRenamesGetsItsCopies)
{
    Scene run;
    make_file(run.src + L"a.txt", "new a", base_seconds + 10);
    make_file(run.src + L"b.txt", "new b", base_seconds + 10);
    make_file(run.dst + L"b.txt", "old b", base_seconds);
    const std::string folder = quoted(unix_path(run.dst));
    HostChange append_only("chattr +a " + folder, "chattr -a " + folder);
    REQUIRE_HOST(append_only, "chattr on the Linux folder behind the drive");
    expect_run(tolvi(L"/f", {run.src + L"*.txt", run.dst_arg()}), 0,
               "Copy: a.txt\r\nUpdate: b.txt\r\n", "");
    EXPECT_EQ(read_file(run.dst + L"a.txt"), "new a");
    EXPECT_EQ(read_file(run.dst + L"b.txt"), "new b");
    const std::vector<std::wstring> left = list_folder(run.dst);
    std::vector<std::wstring> staging_files;
    for (const std::wstring& name : left) {
        // Wine's replace call, failing there, leaves an empty file of its
        // own ("rf", hex digits, ".tmp").
        const bool wine_own = name.size() > 6 && name.compare(0, 2, L"rf") == 0 &&
                              name.compare(name.size() - 4, 4, L".tmp") == 0;
        if (name != L"a.txt" && name != L"b.txt" && !wine_own) {
            staging_files.push_back(name);
        }
    }
    EXPECT_EQ(staging_files, (std::vector<std::wstring>{L"~tolvi-57B4A5F14C6728DA.tmp",
                                                        L"~tolvi-ABFDA20B3F330EA3.tmp"}));

    make_file(run.src + L"a.txt", "newer a", base_seconds + 20);
    make_file(run.src + L"b.txt", "newer b", base_seconds + 20);
    expect_run(tolvi(L"/u /f", {run.src + L"*.txt", run.dst_arg()}), 0,
               "Update: a.txt\r\nUpdate: b.txt\r\n", "");
    EXPECT_EQ(read_file(run.dst + L"a.txt"), "newer a");
    EXPECT_EQ(read_file(run.dst + L"b.txt"), "newer b");
    EXPECT_EQ(list_folder(run.dst), left) << "nothing piles up";
}

// One file reached through a symbolic link to its folder, or a hard link
// in the destination, in pattern runs with every option that could make
// it replace or delete itself: each such file is refused, the others go
// on, nothing is lost.
TEST(SameFile, RefusedInPatternRunsWhateverTheOptions)
{
    for (const wchar_t* options : {L"/m /f", L"/mr /r /f /h", L"/q /m", L"/u /m /f /c /a", L"/f /e"}) {
        Scene run(3);
        const std::wstring link = run.scratch / L"link";
        HostChange symlink("ln -s src " + quoted(unix_path(link)), "rm " + quoted(unix_path(link)));
        REQUIRE_HOST(symlink, "a symbolic link made on the Linux side");
        const std::string refused = "Same file was specified.\r\n";
        RunResult result = tolvi(options, {run.src + L"*.txt", link});
        EXPECT_EQ(result.exit_code, 3) << utf8(options);
        EXPECT_EQ(result.out, "") << utf8(options);
        EXPECT_EQ(result.err, refused + refused + refused) << utf8(options);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(read_file(run.src + numbered(i)), contents_of(i)) << utf8(options);
        }

        // A hard link of the middle file in the destination; the folder's
        // other files are new there.
        ASSERT_TRUE(CreateHardLinkW((run.dst + numbered(1)).c_str(), (run.src + numbered(1)).c_str(),
                                    nullptr));
        const std::wstring given = options;
        const bool move = given.find(L"/m") != std::wstring::npos;
        const bool existing_only = given.find(L"/e") != std::wstring::npos;
        const bool quiet = given.find(L"/q") != std::wstring::npos;
        std::string out;
        for (int i : {0, 2}) {
            if (!quiet && !existing_only) {
                out += (move ? "Move: " : "Copy: ") + utf8(numbered(i)) + "\r\n";
            }
        }
        result = tolvi(options, {run.src + L"*.txt", run.dst_arg()});
        EXPECT_EQ(result.exit_code, 3) << utf8(options);
        EXPECT_EQ(result.out, out) << utf8(options);
        EXPECT_EQ(result.err, refused) << utf8(options);
        for (int i = 0; i < 3; ++i) {
            const bool handled = i != 1 && !existing_only;
            EXPECT_EQ(read_file(run.dst + numbered(i)), handled || i == 1 ? contents_of(i) : "<missing>");
            EXPECT_EQ(file_exists(run.src + numbered(i)), !(move && handled)) << utf8(options);
        }
    }
}

// Japanese and non-BMP names, a 255-character name, and names with a
// trailing blank or dot (made through the \\?\ prefix): each is copied
// under its own name or refused with a message, never stored under
// another name.
TEST(HostileNames, CopiedUnderTheirOwnNamesOrRefused)
{
    Scene run;
    const std::vector<std::wstring> names = {L"\u65e5\u672c\u8a9e.txt", L"\U0001F600 smile.txt",
                                             std::wstring(251, L'n') + L".txt"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        make_file(run.src + names[i], contents_of(static_cast<int>(i)));
    }
    // Names that ordinary paths cannot reach: the trailing blank or dot is
    // dropped when the path is parsed.
    Unreachable unreachable;
    const std::wstring blank = run.src + L"blank.txt ";
    const std::wstring dotted = run.src + L"dotted.txt.";
    for (const std::wstring& path : {blank, dotted}) {
        HANDLE file = CreateFileW((L"\\\\?\\" + path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
        unreachable.paths.push_back(path);
    }
    ASSERT_EQ(list_folder(run.src).size(), names.size() + 2);

    const RunResult result = tolvi(L"", {run.src, run.dst_arg()});
    EXPECT_EQ(result.exit_code, 3);
    // Listing order: by upper-cased name under Wine; compare as a set.
    std::vector<std::string> lines;
    std::istringstream out(result.out);
    for (std::string line; std::getline(out, line);) {
        lines.push_back(line);
    }
    std::vector<std::string> expected;
    for (const std::wstring& name : names) {
        expected.push_back("Copy: " + ansi(name) + "\r");
    }
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(result.err, utf8(blank) + " - File was not found.\r\n" + utf8(dotted) +
                              " - File was not found.\r\n");
    std::vector<std::wstring> sorted_names = names;
    std::sort(sorted_names.begin(), sorted_names.end());
    EXPECT_EQ(list_folder(run.dst), sorted_names);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(read_file(run.dst + names[i]), contents_of(static_cast<int>(i)));
    }
}

// A listed name that an ordinary path turns into another name or a
// device (a trailing dot, nul.txt) never reaches another file: listed
// through a \\?\ source folder it is refused at an ordinary destination,
// copy or move, and copied under its exact name into a \\?\ destination;
// listed in an ordinary source folder it is refused as not found.
TEST(HostileNames, NamesAnOrdinaryPathWouldChangeReachNoOtherFile)
{
    Scene run;
    Unreachable unreachable;
    make_file(run.src + L"dotted.txt", "plain");
    unreachable.make(run.src + L"dotted.txt.", "DOT");
    unreachable.make(run.src + L"nul.txt", "NUL");
    const std::wstring literal_src = L"\\\\?\\" + run.src;
    const std::string refused = utf8(run.dst) + "dotted.txt. - File name is invalid.\r\n" +
                                utf8(run.dst) + "nul.txt - File name is invalid.\r\n";

    expect_run(tolvi(L"/f", {literal_src + L"*", run.dst_arg()}), 3, "Copy: dotted.txt\r\n", refused);
    EXPECT_EQ(list_folder(run.dst), std::vector<std::wstring>{L"dotted.txt"});
    EXPECT_EQ(read_file(run.dst + L"dotted.txt"), "plain");

    DeleteFileW((run.dst + L"dotted.txt").c_str());
    expect_run(tolvi(L"/m /f", {literal_src + L"*", run.dst_arg()}), 3, "Move: dotted.txt\r\n", refused);
    EXPECT_EQ(read_file(run.dst + L"dotted.txt"), "plain");
    EXPECT_EQ(list_folder(run.src), (std::vector<std::wstring>{L"dotted.txt.", L"nul.txt"}));
    EXPECT_EQ(read_file(L"\\\\?\\" + run.src + L"dotted.txt."), "DOT");

    const std::wstring literal_dst = run.scratch / L"literal\\";
    make_folder(literal_dst);
    unreachable.paths.push_back(literal_dst + L"dotted.txt.");
    unreachable.paths.push_back(literal_dst + L"nul.txt");
    expect_run(tolvi(L"", {literal_src + L"*", L"\\\\?\\" + literal_dst}), 0,
               "Copy: dotted.txt.\r\nCopy: nul.txt\r\n", "");
    EXPECT_EQ(read_file(L"\\\\?\\" + literal_dst + L"dotted.txt."), "DOT");
    EXPECT_EQ(read_file(L"\\\\?\\" + literal_dst + L"nul.txt"), "NUL");

    make_file(run.src + L"dotted.txt", "plain");
    const std::wstring other = run.scratch / L"other\\";
    make_folder(other);
    expect_run(tolvi(L"/m", {run.src.substr(0, run.src.size() - 1), other.substr(0, other.size() - 1)}), 3, "Move: dotted.txt\r\n",
               utf8(run.src) + "dotted.txt. - File was not found.\r\n" + utf8(run.src) +
                   "nul.txt - File was not found.\r\n");
    EXPECT_EQ(list_folder(other), std::vector<std::wstring>{L"dotted.txt"});
    EXPECT_EQ(read_file(other + L"dotted.txt"), "plain");
    EXPECT_EQ(read_file(L"\\\\?\\" + run.src + L"dotted.txt."), "DOT");
}

// A new destination whose full path is 259 characters is written under
// exactly that name; at 260 and 261 the path no longer fits the full-path
// buffer and is refused before anything is written. An existing source
// beyond the limit (made through the \\?\ prefix) is refused as well. A
// short name at the limit is staged under a path beyond it.
TEST(HostileNames, FullPathJustUnderAndOverTheLimit)
{
    Scene run(1);
    const std::wstring deep = run.dst + std::wstring(259 - run.dst.size() - 6, L'e') + L"\\";
    make_folder(deep);
    expect_run(tolvi(L"", {run.src + numbered(0), deep + L"a.txt"}), 0,
               "Copy: " + utf8(numbered(0)) + " -> a.txt\r\n", "");
    EXPECT_EQ(list_folder(deep), std::vector<std::wstring>{L"a.txt"});
    const std::wstring folder = run.dst + std::wstring(150, L'd') + L"\\";
    make_folder(folder);
    const std::wstring fits = std::wstring(259 - folder.size() - 4, L'x') + L".txt";
    RunResult result = tolvi(L"", {run.src + numbered(0), folder + fits});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "Copy: " + utf8(numbered(0)) + " -> " + utf8(fits) + "\r\n");
    EXPECT_EQ(result.err, "");
    for (const wchar_t* more : {L"y", L"yy"}) {
        const std::wstring too_long = folder + more + fits;
        result = tolvi(L"", {run.src + numbered(0), too_long});
        EXPECT_EQ(result.exit_code, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, utf8(too_long) + " - File name is invalid.\r\n");
    }
    const std::wstring long_source = folder + L"zz" + fits;
    make_file(L"\\\\?\\" + long_source, "beyond");
    result = tolvi(L"", {long_source, run.src.substr(0, run.src.size() - 1)});
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, utf8(long_source) + " - File name or folder name is invalid.\r\n");
    EXPECT_EQ(list_folder(folder), (std::vector<std::wstring>{fits, L"zz" + fits}));
    EXPECT_EQ(read_file(folder + fits), contents_of(0));
    EXPECT_EQ(list_folder(run.src), std::vector<std::wstring>{numbered(0)});
}

// Listed files whose full paths pass the classic limit (folders of 259
// characters, the longest an argument may be) are copied under their own
// names and shown by their plain paths; a listed name whose trailing dot a
// plain path would drop is refused at that length too, though the
// platform is handed the literal form there.
TEST(HostileNames, ListedPathsPastTheLimit)
{
    Scene run;
    Unreachable unreachable;
    const std::wstring from = run.src + std::wstring(259 - run.src.size(), L'f') + L"\\";
    const std::wstring to = run.dst + std::wstring(259 - run.dst.size(), L't') + L"\\";
    make_folder(from);
    make_folder(to);
    const std::wstring name = std::wstring(20, L'n') + L".txt";
    make_file(L"\\\\?\\" + from + name, "long");
    unreachable.make(from + L"dotted.txt.", "DOT");
    ASSERT_GT((from + name).size(), 259u);
    expect_run(tolvi(L"/v", {from.substr(0, from.size() - 1), to.substr(0, to.size() - 1)}), 3,
               "Copy: " + utf8(from + name) + " -> " + utf8(to) + "\r\n",
               utf8(from) + "dotted.txt. - File was not found.\r\n");
    EXPECT_EQ(list_folder(L"\\\\?\\" + to), std::vector<std::wstring>{name});
    EXPECT_EQ(read_file(L"\\\\?\\" + to + name), "long");
}

// A pattern run over many files handles each exactly once, in listing
// order, and copies every one whole; so does a move, which empties the
// folder while its listing is open. (The 20,000-file version, with time
// and memory, is scripts/fuzz.sh.)
TEST(ManyFiles, EveryFileHandledOnce)
{
    constexpr int count = 500;
    Scene run(count);
    const std::wstring moved = run.scratch / L"moved";
    make_folder(moved);
    for (const char* verb : {"Copy: ", "Move: "}) {
        const bool move = verb[0] == 'M';
        const std::wstring to = move ? moved + L"\\" : run.dst;
        const RunResult result =
            move ? tolvi(L"/m", {run.dst_arg(), moved}) : tolvi(L"", {run.src + L"*.txt", run.dst_arg()});
        std::string out;
        for (int i = 0; i < count; ++i) {
            out += verb + utf8(numbered(i)) + "\r\n";
            EXPECT_EQ(read_file(to + numbered(i)), contents_of(i));
        }
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(list_folder(to).size(), static_cast<std::size_t>(count));
    }
    EXPECT_EQ(list_folder(run.dst), std::vector<std::wstring>{});
}

// A move onto the source itself by another route (a hard link, a second
// drive letter, a symbolic link) is refused and loses nothing: the guard
// refuses it first, and the delete before the move could not take the
// source, which is held open meanwhile.
TEST(SameFile, MoveOntoTheSourceByAnotherRouteLosesNothing)
{
    Scene run;
    const std::wstring source = run.src + L"a.txt";
    make_file(source, "only copy");
    const std::wstring source_by_second_letter = by_second_letter(source);
    const bool aliased = !source_by_second_letter.empty();

    ASSERT_TRUE(CreateHardLinkW((run.dst + L"a.txt").c_str(), source.c_str(), nullptr));
    expect_run(tolvi(L"/m /f", {source, run.dst_arg()}), 3, "", "Same file was specified.\r\n");
    EXPECT_EQ(read_file(run.dst + L"a.txt"), "only copy");
    DeleteFileW((run.dst + L"a.txt").c_str());
    if (aliased) {
        expect_run(tolvi(L"/m /f", {source, source_by_second_letter}), 3, "",
                   "Same file was specified.\r\n");
    }
    EXPECT_EQ(read_file(source), "only copy");
    {
        const std::string link = quoted(unix_path(run.dst) + "/a.txt");
        HostChange symlink("ln -s ../src/a.txt " + link, "rm -f " + link);
        REQUIRE_HOST(symlink, "a symbolic link made on the Linux side");
        expect_run(tolvi(L"/m /f", {source, run.dst_arg()}), 3, "", "Same file was specified.\r\n");
        EXPECT_EQ(read_file(run.dst + L"a.txt"), "only copy");
    }
    EXPECT_EQ(read_file(source), "only copy");
    if (!aliased) {
        GTEST_SKIP() << "TOLVI_TEST_ALIAS_ROOT names no second letter for the test root";
    }
}

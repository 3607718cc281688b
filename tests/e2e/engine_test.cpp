// The copy/move engine end to end: the real exe on real folders, standard
// error redirected, so a question can never be asked: the file is left as
// a No would leave it, but the run exits 3.
#include "e2e_support.h"
#include "host_shell.h"
#include "run_checks.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr DWORD R = FILE_ATTRIBUTE_READONLY;
constexpr DWORD H = FILE_ATTRIBUTE_HIDDEN;
constexpr DWORD S = FILE_ATTRIBUTE_SYSTEM;
constexpr DWORD A = FILE_ATTRIBUTE_ARCHIVE;
constexpr std::uint64_t t0 = base_seconds;

// A source and a destination folder in a scratch folder of their own.
struct Folders {
    explicit Folders(const std::wstring& dest_parent = L"")
        : dest_scratch(dest_parent.empty() ? test_root() : dest_parent)
    {
        make_folder(src);
        make_folder(dst);
    }
    ScratchFolder scratch;
    ScratchFolder dest_scratch;
    std::wstring src = scratch / L"src\\";
    std::wstring dst = dest_scratch / L"dst\\";
    // The destination folder as an argument, without its backslash.
    std::wstring dst_arg() const { return dst.substr(0, dst.size() - 1); }
};

// Holds a file open with the given sharing while the exe runs.
class HeldOpen {
public:
    HeldOpen(const std::wstring& path, DWORD share)
        : handle_(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    ~HeldOpen() { CloseHandle(handle_); }
    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

} // namespace

// A hidden or system source is never moved, /h or not; without /h the run
// driver refuses a single named one with the same text.
TEST(EngineMove, RefusesHiddenOrSystemSource)
{
    struct Case {
        DWORD attributes;
        const wchar_t* options;
        bool pattern;
    };
    for (const Case& c : {Case{H, L"/m /f", false}, Case{S, L"/m /f", false}, Case{H, L"/m /h /f", false},
                          Case{S, L"/mr /h /f", false}, Case{H, L"/m /h /f", true}}) {
        SCOPED_TRACE(utf8(c.options));
        Folders f;
        make_file(f.src + L"a.txt", "src", t0, c.attributes);
        const RunResult result =
            tolvi(c.options, {f.src + (c.pattern ? L"*.txt" : L"a.txt"), f.dst_arg()});
        expect_run(result, 3, "", utf8(f.src) + "a.txt - Hidden or system attribute file.\r\n");
        EXPECT_EQ(read_file(f.src + L"a.txt"), "src");
        EXPECT_EQ(attributes_of(f.src + L"a.txt") & (H | S), c.attributes);
        EXPECT_TRUE(list_folder(f.dst).empty());
    }
}

TEST(EngineMove, ReadOnlySourceMovesOnlyUnderMr)
{
    Folders f;
    make_file(f.src + L"a.txt", "src", t0, R);
    const DWORD source_attributes = attributes_of(f.src + L"a.txt");
    expect_run(tolvi(L"/m", {f.src + L"a.txt", f.dst_arg()}), 3, "",
               utf8(f.src) + "a.txt - Read only file.\r\n");
    EXPECT_EQ(read_file(f.src + L"a.txt"), "src");
    EXPECT_TRUE(list_folder(f.dst).empty());

    expect_run(tolvi(L"/mr", {f.src + L"a.txt", f.dst_arg()}), 0, "Move: a.txt\r\n", "");
    EXPECT_FALSE(file_exists(f.src + L"a.txt"));
    EXPECT_EQ(read_file(f.dst + L"a.txt"), "src");
    EXPECT_EQ(attributes_of(f.dst + L"a.txt"), source_attributes);
    EXPECT_EQ(last_write_seconds(f.dst + L"a.txt"), t0);
}

// Every refusal before the action: message, exit 1, both files as they were.
TEST(EngineRefusal, SourceOrDestinationNotUsable)
{
    struct Case {
        const char* what;
        const wchar_t* options;
        std::function<void(const Folders&)> prepare;  // after src\a.txt and dst\a.txt exist
        const char* text;
    };
    const Case cases[] = {
        {"hidden destination", L"/f /r /h", [](const Folders& f) { set_attributes(f.dst + L"a.txt", H); },
         " - Hidden or system attribute file."},
        {"system destination", L"/f /r /h", [](const Folders& f) { set_attributes(f.dst + L"a.txt", S); },
         " - Hidden or system attribute file."},
        {"read-only hidden destination", L"/f /r /h /m",
         [](const Folders& f) { set_attributes(f.dst + L"a.txt", R | H); },
         " - Hidden or system attribute file."},
        {"read-only hidden destination without /r", L"/f /h",
         [](const Folders& f) { set_attributes(f.dst + L"a.txt", R | H); },
         " - Hidden or system attribute file."},
        {"read-only destination", L"/f", [](const Folders& f) { set_attributes(f.dst + L"a.txt", R); },
         " - Write prohibited file."},
        {"read-only destination, asked", L"", [](const Folders& f) { set_attributes(f.dst + L"a.txt", R); },
         " - Write prohibited file."},
        {"folder at the destination", L"/f /r",
         [](const Folders& f) {
             DeleteFileW((f.dst + L"a.txt").c_str());
             make_folder(f.dst + L"a.txt");
         },
         " - File was not able to open."},
    };
    for (const Case& c : cases) {
        Folders f;
        make_file(f.src + L"a.txt", "new", t0 + 10);
        make_file(f.dst + L"a.txt", "old", t0);
        SCOPED_TRACE(c.what);
        c.prepare(f);
        const DWORD dest_attributes = attributes_of(f.dst + L"a.txt");
        const RunResult result = tolvi(c.options, {f.src + L"a.txt", f.dst_arg()});
        expect_run(result, 3, "", utf8(f.dst) + "a.txt" + c.text + "\r\n");
        EXPECT_EQ(read_file(f.src + L"a.txt"), "new");
        EXPECT_EQ(attributes_of(f.dst + L"a.txt"), dest_attributes);
        if ((dest_attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            EXPECT_EQ(read_file(f.dst + L"a.txt"), "old");
            EXPECT_EQ(last_write_seconds(f.dst + L"a.txt"), t0);
        }
    }
}

// A file another program holds open without sharing cannot be opened for
// its times.
TEST(EngineRefusal, FilesHeldOpenCannotBeRead)
{
    for (const bool hold_source : {true, false}) {
        Folders f;
        make_file(f.src + L"a.txt", "new", t0 + 10);
        make_file(f.dst + L"a.txt", "old", t0);
        const std::wstring held_path = (hold_source ? f.src : f.dst) + L"a.txt";
        {
            HeldOpen held(held_path, 0);
            ASSERT_TRUE(held.held());
            expect_run(tolvi(L"/m /f", {f.src + L"a.txt", f.dst_arg()}), 3, "",
                       utf8(held_path) + " - File was not able to open.\r\n");
        }
        EXPECT_EQ(read_file(f.src + L"a.txt"), "new");
        EXPECT_EQ(read_file(f.dst + L"a.txt"), "old");
    }
}

// A move first deletes the destination; open without delete sharing it
// cannot be deleted, and the source stays.
TEST(EngineRefusal, DestinationThatCannotBeDeleted)
{
    Folders f;
    make_file(f.src + L"a.txt", "new", t0 + 10);
    make_file(f.dst + L"a.txt", "old", t0);
    {
        HeldOpen held(f.dst + L"a.txt", FILE_SHARE_READ | FILE_SHARE_WRITE);
        ASSERT_TRUE(held.held());
        expect_run(tolvi(L"/m /f", {f.src + L"a.txt", f.dst_arg()}), 3, "",
                   utf8(f.dst) + "a.txt - Error during delete.\r\n");
    }
    EXPECT_EQ(read_file(f.src + L"a.txt"), "new");
    EXPECT_EQ(read_file(f.dst + L"a.txt"), "old");
}

TEST(EngineRefusal, ReadOnlyOfDestinationThatCannotBeCleared)
{
    Folders f;
    make_file(f.src + L"a.txt", "new", t0 + 10);
    make_file(f.dst + L"a.txt", "old", t0, R);
    const HostChange frozen = immutable(f.dst + L"a.txt");
    REQUIRE_HOST(frozen, "chattr on the Linux folder behind the drive");
    expect_run(tolvi(L"/r /f", {f.src + L"a.txt", f.dst_arg()}), 3, "",
               utf8(f.dst) + "a.txt - Error during changing attributes.\r\n");
    EXPECT_EQ(read_file(f.dst + L"a.txt"), "old");
    EXPECT_EQ(read_file(f.src + L"a.txt"), "new");
}

// With /r a read-only destination is made writable and replaced; its
// attributes afterwards are the source's.
TEST(EngineOverwrite, ReadOnlyDestinationUnderR)
{
    Folders f;
    make_file(f.src + L"a.txt", "new", t0 + 10);
    make_file(f.dst + L"a.txt", "old", t0, R);
    expect_run(tolvi(L"/r /f", {f.src + L"a.txt", f.dst_arg()}), 0, "Update: a.txt\r\n", "");
    EXPECT_EQ(read_file(f.dst + L"a.txt"), "new");
    EXPECT_EQ(attributes_of(f.dst + L"a.txt"), attributes_of(f.src + L"a.txt"));
    EXPECT_EQ(attributes_of(f.dst + L"a.txt") & R, 0u);
    EXPECT_EQ(last_write_seconds(f.dst + L"a.txt"), t0 + 10);
}

struct NewerCase {
    std::uint64_t source_seconds;
    std::uint32_t source_units;
    std::uint64_t dest_seconds;  // 0: no destination
    std::uint32_t dest_units;
    const wchar_t* options;
    const char* out;  // empty: skipped
};

void check_newer_only(const NewerCase& c, const std::wstring& dest_parent)
{
    Folders f(dest_parent);
    make_file(f.src + L"a.txt", "new", c.source_seconds, 0, c.source_units);
    if (c.dest_seconds != 0) {
        make_file(f.dst + L"a.txt", "old", c.dest_seconds, 0, c.dest_units);
    }
    const RunResult result = tolvi(c.options, {f.src + L"a.txt", f.dst_arg()});
    const bool copied = *c.out != '\0';
    std::string out = c.out;
    const std::size_t folder_mark = out.find('%');  // stands for the two folders of /v
    if (folder_mark != std::string::npos) {
        out = out.substr(0, folder_mark) + utf8(f.src) + "a.txt -> " + utf8(f.dst) + "\r\n";
    }
    SCOPED_TRACE(std::to_string(static_cast<long long>(c.source_seconds - t0)) + " vs " +
                 std::to_string(static_cast<long long>(c.dest_seconds - t0)) + " " + utf8(c.options));
    expect_run(result, copied ? 0 : 1, out, "");
    EXPECT_EQ(read_file(f.dst + L"a.txt"), copied ? "new" : c.dest_seconds ? "old" : "<missing>");
    if (c.dest_seconds != 0 || copied) {
        EXPECT_EQ(last_write_seconds(f.dst + L"a.txt"), copied ? c.source_seconds : c.dest_seconds);
    }
}

// Two NTFS folders: tolerance 0, compared in whole seconds.
TEST(EngineNewerOnly, ToleranceZero)
{
    const NewerCase cases[] = {
        {t0 + 1, 0, t0, 0, L"/u /f", "Update: a.txt\r\n"},
        {t0 + 1, 0, t0, 9999999, L"/u /f", "Update: a.txt\r\n"},
        {t0, 9999999, t0, 0, L"/u /f", ""},  // same second, later within it
        {t0, 0, t0, 9999999, L"/u /f", ""},
        {t0, 0, t0 + 5, 0, L"/u /f", ""},
        {t0 - 3600, 0, 0, 0, L"/u /f", "Copy: a.txt\r\n"},  // no destination
        {t0 + 1, 0, t0, 0, L"/u /f /v", "Update: %"},
        {t0, 0, t0, 5000000, L"/f /v", "Overwrite: %"},
    };
    for (const NewerCase& c : cases) {
        check_newer_only(c, test_root());
    }
}

// An NTFS source and a CDFS destination: tolerance 2.
TEST(EngineNewerOnly, ToleranceTwoAcrossFileSystems)
{
    const std::wstring cd = cd_root();
    if (cd.empty()) {
        GTEST_SKIP() << "TOLVI_TEST_CD_ROOT names no second file system";
    }
    const NewerCase cases[] = {
        {t0 + 2, 0, t0, 0, L"/u /f", ""},
        {t0 + 3, 0, t0, 0, L"/u /f", "Update: a.txt\r\n"},
        {t0, 0, t0 + 1, 0, L"/u /f", ""},
        {t0 + 2, 0, t0, 0, L"/f /v", "Overwrite: %"},
        {t0 + 3, 0, t0, 0, L"/f /v", "Update: %"},
        {t0, 0, t0 + 3, 0, L"/f /v", "Downdate: %"},
    };
    for (const NewerCase& c : cases) {
        check_newer_only(c, cd);
    }
}

// /e and the two questions: a skip writes nothing and makes the exit code
// 1; a question that cannot be asked is written as a refusal, under the
// destination's path, since nobody chose to leave the file: exit code 3.
TEST(EngineDecision, ExistingOnlyAndUnansweredQuestions)
{
    struct Case {
        const wchar_t* options;
        bool dest_exists;
        const char* out;  // empty: skipped
        int exit_code;
        const char* err;  // after the destination's path
    };
    const char* const copy = " - Copy question could not be asked.\r\n";
    const char* const overwrite = " - Overwrite question could not be asked.\r\n";
    for (const Case& c : {Case{L"/e", false, "", 1, nullptr},
                          Case{L"/e /f", true, "Update: a.txt\r\n", 0, nullptr},
                          Case{L"/p", false, "", 3, copy},
                          Case{L"/p /f", true, "Update: a.txt\r\n", 0, nullptr},
                          Case{L"", true, "", 3, overwrite}, Case{L"/e", true, "", 3, overwrite},
                          Case{L"/m", true, "", 3, overwrite}}) {
        SCOPED_TRACE(utf8(c.options));
        Folders f;
        make_file(f.src + L"a.txt", "new", t0 + 10);
        if (c.dest_exists) {
            make_file(f.dst + L"a.txt", "old", t0);
        }
        const bool copied = *c.out != '\0';
        expect_run(tolvi(c.options, {f.src + L"a.txt", f.dst_arg()}), c.exit_code, c.out,
                   c.err ? utf8(f.dst) + "a.txt" + c.err : "");
        EXPECT_EQ(read_file(f.dst + L"a.txt"), copied ? "new" : c.dest_exists ? "old" : "<missing>")
           ;
        EXPECT_EQ(read_file(f.src + L"a.txt"), "new");
    }
}

// Read-only, hidden and system bits: kept, or replaced by archive alone
// under /a. /c goes through making the copy writable and back.
TEST(EngineAttributes, CarriedOrReplacedByArchive)
{
    struct Case {
        DWORD source;
        const wchar_t* options;
        bool dest_exists;
        DWORD expected;
    };
    const Case cases[] = {
        {R, L"", false, R | A},         {R, L"/a", false, A},          {H, L"/h", false, H | A},
        {H, L"/h /a", false, A},        {R | H | S, L"/h", false, R | H | S | A},
        {0, L"/a", false, A},           {R, L"/f", true, R | A},       {R | H, L"/h /a /f", true, A},
        {R, L"/c", false, R | A},       {R, L"/c /a", false, A},       {0, L"/c", false, A},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.options) + " from attributes " + std::to_string(c.source));
        Folders f;
        make_file(f.src + L"a.txt", "new", t0 + 10, c.source);
        if (c.dest_exists) {
            make_file(f.dst + L"a.txt", "old", t0);
        }
        const std::string out = std::string(c.dest_exists ? "Update" : "Copy") + ": a.txt\r\n";
        expect_run(tolvi(c.options, {f.src + L"a.txt", f.dst_arg()}), 0, out, "");
        EXPECT_EQ(attributes_of(f.dst + L"a.txt"), c.expected);
        EXPECT_EQ(read_file(f.dst + L"a.txt"), "new");
        EXPECT_EQ(last_write_seconds(f.dst + L"a.txt"), t0 + 10);
        // Wine gaps: a creation time cannot be set (it always equals the
        // last-write time), so under Wine this holds whether or not /c
        // carried it; and as root the read-only bit does not stop /c from
        // opening the copy for writing, so only the attributes left
        // afterwards show that path.
        EXPECT_EQ(creation_seconds(f.dst + L"a.txt"), creation_seconds(f.src + L"a.txt"));
    }
}

// The platform's copy or move fails (destination made immutable): the
// line ends in the error marker, or under /q and /l the path and message
// go to standard error; nothing is counted and the source stays.
TEST(EngineFailure, CopyOrMoveFails)
{
    struct Case {
        const wchar_t* options;
        bool dest_exists;
        const char* out;
        bool message;
    };
    const Case cases[] = {
        {L"", false, "Copy: a.txt ###Error###\r\n", false},
        {L"/q", false, "", true},
        {L"/m", false, "Move: a.txt ###Error###\r\n", false},
        {L"/m /q", false, "", true},
        {L"/l", false, "", true},
        {L"/f", true, "Update: a.txt ###Error###\r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.options));
        Folders f;
        make_file(f.src + L"a.txt", "new", t0 + 10);
        if (c.dest_exists) {
            make_file(f.dst + L"a.txt", "old", t0);
        }
        {
            const HostChange frozen = immutable(c.dest_exists ? f.dst + L"a.txt" : f.dst);
            REQUIRE_HOST(frozen, "chattr on the Linux folder behind the drive");
            expect_run(tolvi(c.options, {f.src + L"a.txt", f.dst_arg()}), 3, c.out,
                       c.message ? utf8(f.dst) + "a.txt - Error during copy.\r\n" : "");
        }
        EXPECT_EQ(read_file(f.src + L"a.txt"), "new");
        EXPECT_EQ(read_file(f.dst + L"a.txt"), c.dest_exists ? "old" : "<missing>");
    }
}

// A step after a successful action fails: the file is still counted and
// the call still returns false. The source is held open with read and
// delete sharing, so the move may rename it but /c cannot then open the
// moved file for writing.
TEST(EngineFailure, StepAfterTheActionFailsButCounts)
{
    Folders f;
    make_file(f.src + L"a.txt", "new", t0 + 10);
    {
        HeldOpen held(f.src + L"a.txt", FILE_SHARE_READ | FILE_SHARE_DELETE);
        ASSERT_TRUE(held.held());
        expect_run(tolvi(L"/m /c /l", {f.src + L"a.txt", f.dst_arg()}), 3, "1 file(s) moved.\r\n",
                   utf8(f.dst) + "a.txt - File was not able to open.\r\n");
    }
    EXPECT_FALSE(file_exists(f.src + L"a.txt"));
    EXPECT_EQ(read_file(f.dst + L"a.txt"), "new");
}

// /l counts new and overwritten files separately; /l alone still asks
// before overwriting (and without a console the question cannot be asked,
// which is written). A refused file is not counted and its message comes
// in listing order.
TEST(EngineCounts, CopiedAndMovedUnderL)
{
    struct Case {
        const wchar_t* options;
        bool move;
        bool overwrites;
        const char* counts;
    };
    for (const Case& c : {Case{L"/l /f", false, true, "2 file(s) copied.\r\n1 file(s) copied over.\r\n"},
                          Case{L"/l /m /f", true, true, "2 file(s) moved.\r\n1 file(s) moved over.\r\n"},
                          Case{L"/l /m", true, false, "2 file(s) moved.\r\n"}}) {
        SCOPED_TRACE(utf8(c.options));
        Folders f;
        for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt", L"d.txt"}) {
            make_file(f.src + name, "new", t0 + 10);
        }
        make_file(f.dst + L"c.txt", "old", t0);
        make_file(f.dst + L"d.txt", "old", t0, R);
        const std::string unasked =
            c.overwrites ? "" : utf8(f.dst) + "c.txt - Overwrite question could not be asked.\r\n";
        expect_run(tolvi(c.options, {f.src + L"*.txt", f.dst_arg()}), 3, c.counts,
                   unasked + utf8(f.dst) + "d.txt - Write prohibited file.\r\n");
        for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt"}) {
            const bool done = *name != L'c' || c.overwrites;
            EXPECT_EQ(read_file(f.dst + name), done ? "new" : "old");
            EXPECT_EQ(file_exists(f.src + name), !(c.move && done));
        }
        EXPECT_EQ(read_file(f.dst + L"d.txt"), "old");
        EXPECT_EQ(read_file(f.src + L"d.txt"), "new");
    }
}

// A copy over an existing file keeps the old stored name; when the names
// are meant to be equal the engine renames it to the source's letter case.
TEST(EngineNames, StoredNameCase)
{
    Folders f;
    make_file(f.src + L"ReadMe.txt", "new", t0 + 10);
    make_file(f.dst + L"README.TXT", "old", t0);
    expect_run(tolvi(L"/f", {f.src + L"*.txt", f.dst_arg()}), 0, "Update: ReadMe.txt\r\n", "");
    EXPECT_EQ(read_file(f.dst + L"ReadMe.txt"), "new");
    // The new copy replaces the old one under the name as given, which
    // under Wine already has the source's case; there the rename that fixes
    // the case would report success without changing it (the decision
    // itself is checked by the unit tests).
    EXPECT_EQ(stored_name(f.dst + L"ReadMe.txt"), L"ReadMe.txt");

    // Different names: no renaming; the destination keeps its stored name.
    make_file(f.src + L"a.txt", "new a", t0 + 10);
    make_file(f.dst + L"B.TXT", "old b", t0);
    expect_run(tolvi(L"/f", {f.src + L"a.txt", f.dst + L"b.txt"}), 0, "Update: a.txt -> B.TXT\r\n", "");
    EXPECT_EQ(stored_name(f.dst + L"b.txt"), L"B.TXT");
    EXPECT_EQ(read_file(f.dst + L"B.TXT"), "new a");
}

// One file reached by two names (hard link, letter case, short name) is
// never copied or moved onto itself.
TEST(EngineSameFile, AnotherNameForTheSourceIsLeftAlone)
{
    struct Case {
        const wchar_t* options;
        const wchar_t* link_name;  // the second name, in dst
        const wchar_t* source_arg;
        const wchar_t* dest_arg;   // after dst; empty: the folder alone
    };
    const Case cases[] = {
        {L"/f", L"a.txt", L"a.txt", L""},          {L"/m /f", L"a.txt", L"a.txt", L""},
        {L"/m /f", L"a.txt", L"*.txt", L""},       {L"/m /r /f", L"A.TXT", L"a.txt", L"A.TXT"},
        {L"/u /m /f", L"a.txt", L"a.txt", L""},    {L"/f", L"b.txt", L"a.txt", L"b.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.options) + " " + utf8(c.link_name));
        Folders f;
        make_file(f.src + L"a.txt", "only copy", t0);
        ASSERT_TRUE(CreateHardLinkW((f.dst + c.link_name).c_str(), (f.src + L"a.txt").c_str(), nullptr));
        const std::wstring dest = *c.dest_arg ? f.dst + c.dest_arg : f.dst_arg();
        expect_run(tolvi(c.options, {f.src + c.source_arg, dest}), 3, "", "Same file was specified.\r\n");
        EXPECT_EQ(read_file(f.src + L"a.txt"), "only copy");
        EXPECT_EQ(read_file(f.dst + c.link_name), "only copy");
        EXPECT_EQ(stored_name(f.dst + c.link_name), c.link_name);
    }
}

// Wine reports a file whose name starts with a dot as hidden by its path
// (and in listings) but not through an opened handle: the attributes that
// decide are the ones asked by path, so each of these is refused.
TEST(EngineHidden, DotFilesHiddenByTheirPathAreRefused)
{
    if (!under_wine()) {
        GTEST_SKIP() << "only Wine hides a file for a leading dot in its name";
    }
    Folders f;
    make_file(f.src + L".cfg", "src cfg", t0 + 10);
    ASSERT_EQ(attributes_of(f.src + L".cfg") & H, H);
    const std::string hidden = " - Hidden or system attribute file.\r\n";
    expect_run(tolvi(L"/m /h", {f.src.substr(0, f.src.size() - 1), f.dst_arg()}), 3, "",
               utf8(f.src) + ".cfg" + hidden);
    EXPECT_EQ(read_file(f.src + L".cfg"), "src cfg");
    EXPECT_TRUE(list_folder(f.dst).empty());

    make_file(f.dst + L".cfg", "dst cfg", t0);
    expect_run(tolvi(L"/h /f", {f.src.substr(0, f.src.size() - 1), f.dst_arg()}), 3, "",
               utf8(f.dst) + ".cfg" + hidden);
    make_file(f.src + L"x.txt", "x", t0 + 10);
    expect_run(tolvi(L"/f", {f.src + L"x.txt", f.dst + L".cfg"}), 3, "", utf8(f.dst) + ".cfg" + hidden);
    EXPECT_EQ(read_file(f.dst + L".cfg"), "dst cfg");
    EXPECT_EQ(last_write_seconds(f.dst + L".cfg"), t0);
    EXPECT_EQ(read_file(f.src + L".cfg"), "src cfg");
}

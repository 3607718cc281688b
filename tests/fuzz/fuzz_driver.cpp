// Command-line fuzzing of tolvi.exe: generates argument lists from a seed
// (options in every case and order, empty strings, slashes, quotes,
// wildcards, very long strings, Japanese and non-BMP names, device names,
// existing and missing paths of a scratch zone) and runs the exe for each.
// Every run must end with exit code 0, 1, 2 or 3, leave everything outside
// the zone alone, write only the tool's own messages and report lines,
// never lose or truncate a file, and end with exit code 2, one message and
// nothing changed exactly when it ends with a parameter or resolution
// message (after the message of a pattern that matched nothing, if any);
// with exit code 1 it writes no message but the one of a folder or
// pattern with no file to copy; any other message, about a file or the
// source folder's listing, makes the exit code 3.
//
//   fuzz_driver <seed> <cases> [first case]   fuzz; exit code 1 on a finding
//   fuzz_driver list <folder>                 walk a listing only (a memory
//                                             baseline for scripts/fuzz.sh)
#include "e2e_support.h"

#include <io.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <utility>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// ---- The zone: the only place the generated arguments name ----

struct Entry {
    DWORD attributes = 0;  // read-only, hidden, system, folder
    std::string contents;
    bool operator==(const Entry& other) const
    {
        return attributes == other.attributes && contents == other.contents;
    }
};
using Snapshot = std::map<std::wstring, Entry>;  // by path below the folder

void snapshot(const std::wstring& folder, const std::wstring& below, Snapshot& into)
{
    for (const std::wstring& name : list_folder(folder)) {
        const std::wstring path = folder + name;
        Entry entry;
        entry.attributes = attributes_of(path) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY);
        if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            snapshot(path + L"\\", below + name + L"\\", into);
        } else {
            entry.contents = read_file(path);
        }
        into[below + name] = entry;
    }
}

Snapshot snapshot(const std::wstring& folder)
{
    Snapshot result;
    snapshot(folder, L"", result);
    return result;
}

// The current folder of every run is zone\w\; the destinations d\ and e\
// sit beside it. Every file holds its own text, except the two names of
// one hard link.
void build_zone(const std::wstring& zone)
{
    remove_tree(zone);
    make_folder(zone);
    for (const wchar_t* folder : {L"w", L"w\\sub", L"d", L"e"}) {
        make_folder(zone + folder);
    }
    const struct {
        const wchar_t* path;
        DWORD attributes;
    } files[] = {
        {L"w\\a.txt", 0},
        {L"w\\B.TXT", 0},
        {L"w\\\u65e5\u672c\u8a9e.txt", 0},
        {L"w\\\U0001F600.txt", 0},
        {L"w\\long name with spaces.text", 0},
        {L"w\\ro.txt", FILE_ATTRIBUTE_READONLY},
        {L"w\\hid.txt", FILE_ATTRIBUTE_HIDDEN},
        {L"w\\sys.txt", FILE_ATTRIBUTE_SYSTEM},
        {L"w\\hl.txt", 0},
        {L"w\\sub\\c.txt", 0},
        {L"d\\a.txt", 0},
        {L"d\\ro.txt", FILE_ATTRIBUTE_READONLY},
        {L"d\\x.txt", 0},
    };
    std::uint64_t seconds = base_seconds;
    for (const auto& file : files) {
        make_file(zone + file.path, "contents of " + utf8(file.path) + "\n", seconds += 7,
                  file.attributes);
    }
    CreateHardLinkW((zone + L"d\\hl.txt").c_str(), (zone + L"w\\hl.txt").c_str(), nullptr);
}

// ---- Argument generation ----

const wchar_t* const options[] = {L"/a", L"/c", L"/e", L"/f", L"/h", L"/l", L"/m", L"/mr",
                                  L"/p", L"/q", L"/r", L"/t", L"/u", L"/v"};
const wchar_t* const odd_options[] = {L"/?", L"/void", L"/ver", L"/af", L"/x", L"-a", L"/",
                                      L"//m", L"/m r", L"/mrr", L"/\u00e4"};
// Paths relative to zone\w\; ".." never climbs above the zone.
const wchar_t* const relative_paths[] = {
    L"a.txt", L"A.TXT", L"b.txt", L"hl.txt", L"ro.txt", L"hid.txt", L"sys.txt",
    L"\u65e5\u672c\u8a9e.txt", L"\U0001F600.txt", L"long name with spaces.text", L"*.txt",
    L"*", L"?.txt", L"*.text", L"sub", L"sub\\c.txt", L"sub\\*", L".", L"..\\w",
    L"..\\w\\*.txt", L"..\\d", L"..\\d\\a.txt", L"..\\d\\hl.txt", L"..\\d\\ro.txt",
    L"..\\d\\new.txt", L"..\\d\\*", L"..\\e", L"..\\e\\n.txt", L"..", L"..\\missing",
    L"..\\missing\\x.txt", L"missing.txt", L"miss*.txt", L"new name.txt"};
const wchar_t* const devices[] = {L"NUL", L"CON", L"AUX", L"PRN", L"COM1", L"nul.txt",
                                  L"CONOUT$", L"CONIN$", L"\\\\.\\NUL", L"NUL:", L"con.txt"};

struct Generator {
    std::mt19937 random;
    std::wstring zone;        // full path of the zone, ending in a backslash
    std::wstring short_name;  // 8.3 name of the long file in w\, if any

    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); }
    bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }

    std::wstring option()
    {
        std::wstring text = chance(85) ? options[below(std::size(options))]
                                       : odd_options[below(std::size(odd_options))];
        for (wchar_t& c : text) {
            if (chance(40)) {
                c = static_cast<wchar_t>(towupper(c));
            }
        }
        return text;
    }

    std::wstring path()
    {
        std::wstring text;
        const std::size_t pick = below(100);
        if (pick < 8 && !short_name.empty()) {
            text = short_name;
        } else if (pick < 12) {
            // Drive-relative: the drive's current folder is zone\w\.
            text = zone.substr(0, 2) + relative_paths[below(std::size(relative_paths))];
        } else {
            text = relative_paths[below(std::size(relative_paths))];
            if (chance(45)) {
                text = zone + L"w\\" + text;
            }
        }
        return mutate(text);
    }

    std::wstring mutate(std::wstring text)
    {
        if (chance(25)) {
            for (wchar_t& c : text) {
                if (chance(50)) {
                    c = static_cast<wchar_t>(iswupper(c) ? towlower(c) : towupper(c));
                }
            }
        }
        const std::size_t edits = chance(60) ? 0 : 1 + below(3);
        for (std::size_t i = 0; i < edits; ++i) {
            const std::size_t at = text.empty() ? 0 : below(text.size() + 1);
            switch (below(9)) {
            case 0: text += L'\\'; break;
            case 1: text += L'.'; break;
            case 2: text += L' '; break;
            case 3: text.insert(at, 1, L"<>|/\"*?:"[below(8)]); break;
            case 4: text.insert(at, L"\\\\"); break;
            case 5: text.insert(0, L".\\"); break;
            case 6: text = L"\"" + text + L"\""; break;
            case 7: text.insert(at, 1, static_cast<wchar_t>(0xD800 + below(0x800))); break;  // lone surrogate
            default: text += L"\\*"; break;
            }
        }
        return text;
    }

    std::wstring garbage()
    {
        switch (below(6)) {
        case 0: return L"";
        case 1: return devices[below(std::size(devices))];
        case 2: return std::wstring(1 + below(300), L"aZ*?"[below(4)]);
        case 3: return std::wstring(200 + below(8000), L'x');
        case 4: {
            std::wstring text;
            for (std::size_t n = 1 + below(40); n > 0; --n) {
                const std::size_t kind = below(4);
                if (kind == 0) {
                    text += static_cast<wchar_t>(0x3041 + below(0x5F));  // hiragana
                } else if (kind == 1) {
                    text += L"\U0001F4A9";
                } else if (kind == 2) {
                    // Printable ASCII, but no separator: a rooted path
                    // would name places outside the zone.
                    const auto c = static_cast<wchar_t>(0x20 + below(0x5F));
                    text += c == L'\\' || c == L':' ? L'_' : c;
                } else {
                    text += static_cast<wchar_t>(0x80 + below(0xFF00));
                }
            }
            return text;
        }
        default: return zone + L"w\\" + std::wstring(240 + below(40), L'n') + L".txt";
        }
    }

    // Some lists name one file twice; half of the others are plausible (a
    // source, mostly a destination, a few options anywhere), so that runs
    // get past the command line; the rest are anything.
    std::vector<std::wstring> arguments()
    {
        std::vector<std::wstring> args;
        if (chance(25)) {
            return same_file_pair();
        }
        if (chance(50)) {
            args.push_back(chance(80) ? source() : path());
            if (chance(90)) {
                args.push_back(chance(60) ? folder() : chance(70) ? plain_path() : path());
            }
            // Options anywhere; the source stays before the destination.
            for (std::size_t n = below(4); n > 0; --n) {
                const std::wstring text = chance(95) ? options[below(std::size(options))] : option();
                args.insert(args.begin() + static_cast<std::ptrdiff_t>(below(args.size() + 1)), text);
            }
            return args;
        }
        for (std::size_t n = 1 + below(6); n > 0; --n) {
            const std::size_t kind = below(100);
            args.push_back(kind < 45 ? option() : kind < 88 ? path() : garbage());
        }
        return args;
    }

    // One file named twice, by letter case, short name, "." and "..",
    // the hard link or the current folder, mostly with the options under
    // which the engine would replace or delete it.
    std::vector<std::wstring> same_file_pair()
    {
        const std::pair<std::wstring, std::wstring> pairs[] = {
            {L"a.txt", L"A.TXT"},
            {L"long name with spaces.text", short_name},
            {short_name, L"long name with spaces.text"},
            {L"hl.txt", L"..\\d\\hl.txt"},
            {L"hl.txt", L"..\\d"},
            {L"*.txt", L"..\\d"},
            {L"*.txt", L"..\\w"},
            {L"a.txt", L"sub\\..\\a.txt"},
            {L"*", L"."},
            {zone + L"w\\a.txt", L".\\A.txt"},
            {L"sub\\c.txt", zone + L"W\\SUB\\.\\C.TXT"},
        };
        const auto& pair = pairs[below(std::size(pairs))];
        std::vector<std::wstring> args = {pair.first, pair.second};
        for (const wchar_t* option : {L"/m", L"/f", L"/r", L"/h", L"/u", L"/c", L"/q", L"/mr"}) {
            if (chance(option[1] == L'm' || option[1] == L'f' ? 60 : 15)) {
                args.insert(args.begin() + static_cast<std::ptrdiff_t>(below(args.size() + 1)), option);
            }
        }
        return args;
    }

    std::wstring source()
    {
        const wchar_t* const sources[] = {L"a.txt", L"*.txt", L"*", L"sub", L"hl.txt", L"ro.txt",
                                          L"hid.txt", L"\u65e5\u672c\u8a9e.txt", L"\U0001F600.txt",
                                          L"?.txt", L"..\\d\\*", L"..\\d", L"sub\\c.txt"};
        const std::wstring text = sources[below(std::size(sources))];
        return chance(50) ? zone + L"w\\" + text : text;
    }

    std::wstring folder()
    {
        const wchar_t* const folders[] = {L"..\\d", L"..\\e", L"sub", L".", L"..", L"..\\d\\",
                                          L"..\\missing"};
        const std::wstring text = folders[below(std::size(folders))];
        return chance(50) ? zone + L"w\\" + text : text;
    }

    std::wstring plain_path()
    {
        const std::wstring text = relative_paths[below(std::size(relative_paths))];
        return chance(50) ? zone + L"w\\" + text : text;
    }
};

// ---- What a run may write ----

const char* const resolution_messages[] = {
    " - Parameter is invalid.", "Empty parameter is specified.",
    " - Parameter is not able to use together.", "Copy source parameter is not specified.",
    " - File name or folder name is invalid.", " - Not a file or folder.", " - Folder was not found.",
    " - File name is invalid.", " - File or folder was not found.",
    "Cannot specify destination file name when using wildcard copy.", "Cannot copy to same folder."};
// Texts that the run driver and the engine share.
const char* const shared_messages[] = {"Same file was specified.", " - File was not found.",
                                       " - Hidden or system attribute file."};
const char* const engine_messages[] = {
    " - Read only file.", " - Write prohibited file.", " - Error during changing attributes.",
    " - Error during changing file name.", " - Error during delete.", " - Error during copy.",
    " - File was not able to open.", " - Error during setting file date/time.",
    " - Overwrite question could not be asked.", " - Copy question could not be asked.",
    " - Folder could not be read."};  // the last one: the run's listing of the source
const char* const report_labels[] = {"Copy: ", "Move: ", "Update: ", "Update Move: ", "Overwrite: ",
                                     "Overwrite Move: ", "Downdate: ", "Downdate Move: "};

bool ends_with(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool starts_with(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

template <std::size_t N>
bool ends_with_any(const std::string& line, const char* const (&texts)[N])
{
    for (const char* text : texts) {
        if (ends_with(line, text)) {
            return true;
        }
    }
    return false;
}

// Splits CR LF lines; false when a line end is missing or bare.
bool split_lines(const std::string& text, std::vector<std::string>& lines)
{
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            return false;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return true;
}

bool is_count_line(const std::string& line)
{
    const std::size_t digits = line.find_first_not_of("0123456789");
    if (digits == 0 || digits == std::string::npos) {
        return false;
    }
    const std::string rest = line.substr(digits);
    return rest == " file(s) copied." || rest == " file(s) moved." || rest == " file(s) copied over." ||
           rest == " file(s) moved over.";
}

bool has(const std::vector<std::wstring>& args, const wchar_t* option)
{
    for (const std::wstring& arg : args) {
        if (_wcsicmp(arg.c_str(), option) == 0) {
            return true;
        }
    }
    return false;
}

std::string shown(const std::vector<std::wstring>& args)
{
    std::string text;
    for (const std::wstring& arg : args) {
        std::string one = utf8(arg);
        if (one.size() > 120) {
            one = one.substr(0, 60) + "...(" + std::to_string(one.size()) + " bytes)";
        }
        text += " [" + one + "]";
    }
    return text;
}

struct Verdict {
    std::vector<std::string> findings;
    bool refused = false;  // ended with a parameter or resolution message
    void fail(const std::string& what) { findings.push_back(what); }
};

// Every check of one run, given the zone before and after it.
Verdict judge(const std::vector<std::wstring>& args, const RunResult& result, const Snapshot& before,
              const Snapshot& after)
{
    Verdict verdict;
    if (result.exit_code < 0 || result.exit_code > 3) {
        verdict.fail("exit code " + std::to_string(result.exit_code));
        return verdict;
    }
    std::vector<std::string> errors;
    std::vector<std::string> lines;
    if (!split_lines(result.err, errors) || !split_lines(result.out, lines)) {
        verdict.fail("output without CR LF line ends");
    }
    for (const std::string& line : errors) {
        if (!ends_with_any(line, resolution_messages) && !ends_with_any(line, shared_messages) &&
            !ends_with_any(line, engine_messages)) {
            verdict.fail("unknown message: " + line);
        }
    }
    const bool special = args.size() == 1 && (_wcsicmp(args[0].c_str(), L"/?") == 0 ||
                                              _wcsicmp(args[0].c_str(), L"/ver") == 0);
    for (const std::string& line : special ? std::vector<std::string>() : lines) {
        bool known = is_count_line(line);
        for (const char* label : report_labels) {
            known = known || starts_with(line, label);
        }
        if (!known) {
            verdict.fail("unknown output line: " + line);
        }
    }
    // A run that ends at the command line (exit code 2) has written one
    // message and no report line, and touched nothing (two messages when
    // a pattern that matched nothing comes first); so has a run that
    // exits 1 after a folder or pattern with no file to copy. Any other
    // message is about a file and makes the exit code 3, and exit code 3
    // needs one (a question that could not be asked writes one too).
    verdict.refused = result.exit_code == 2;
    const bool after_empty_pattern =
        errors.size() == 2 && ends_with(errors[0], " - File or folder was not found.");
    const bool one_refusal = lines.empty() && (errors.size() == 1 || after_empty_pattern) &&
                             (ends_with_any(errors.back(), resolution_messages) ||
                              ends_with_any(errors.back(), shared_messages));
    if (verdict.refused && !one_refusal) {
        verdict.fail("exit code 2 without a lone command-line message");
    }
    const bool nothing_matched = result.exit_code == 1 && lines.empty() && errors.size() == 1 &&
                                 (ends_with(errors[0], " - File or folder was not found.") ||
                                  ends_with(errors[0], " - File was not found."));
    if (errors.size() == 1 && ends_with_any(errors[0], resolution_messages) && !verdict.refused &&
        !nothing_matched) {
        verdict.fail("a command-line message in a run that went on");
    }
    bool file_message = !errors.empty() && !verdict.refused && !nothing_matched;
    for (const std::string& line : lines) {
        file_message = file_message || ends_with(line, " ###Error###");
    }
    if (file_message && result.exit_code != 3) {
        verdict.fail("exit code " + std::to_string(result.exit_code) + " after a message about a file");
    }
    if (result.exit_code == 3 && !file_message) {
        verdict.fail("exit code 3 without a message");
    }
    if ((verdict.refused || nothing_matched) && !(before == after)) {
        verdict.fail("the zone changed although the run was refused");
    }

    // Nothing lost: every text that a file held is still held by some file,
    // unless its file was overwritten with consent (/f, /q); every file
    // holds one of the texts (no partial or mixed copy); without consent
    // and without /m no file was changed at all.
    std::set<std::string> texts_after;
    for (const auto& [path, entry] : after) {
        if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            texts_after.insert(entry.contents);
        }
    }
    std::set<std::string> texts_before;
    for (const auto& [path, entry] : before) {
        if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            texts_before.insert(entry.contents);
        }
    }
    for (const std::string& text : texts_after) {
        if (texts_before.count(text) == 0) {
            verdict.fail("a file holds new contents: " + text.substr(0, 40));
        }
    }
    const bool consent = has(args, L"/f") || has(args, L"/q");
    const bool move = has(args, L"/m") || has(args, L"/mr");
    for (const auto& [path, entry] : before) {
        if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (after.count(path) == 0) {
                verdict.fail("folder gone: " + utf8(path));
            }
            continue;
        }
        const auto now = after.find(path);
        if (!consent && !move && (now == after.end() || !(now->second == entry))) {
            verdict.fail("changed without consent: " + utf8(path));
        }
        const bool overwritten = consent && now != after.end();
        if (texts_after.count(entry.contents) == 0 && !overwritten) {
            verdict.fail("lost: " + utf8(path));
        }
    }
    return verdict;
}

int walk_listing(const std::wstring& folder)
{
    _wfinddata64i32_t entry{};
    const intptr_t search = _wfindfirst64i32((folder + L"\\*").c_str(), &entry);
    long count = 0;
    for (bool more = search != -1; more; more = _wfindnext64i32(search, &entry) == 0) {
        ++count;
    }
    if (search != -1) {
        _findclose(search);
    }
    std::printf("%ld entries\n", count);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t* argv[])
{
    if (argc == 3 && std::wstring(argv[1]) == L"list") {
        return walk_listing(argv[2]);
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: fuzz_driver <seed> <cases> [first case] | list <folder>\n");
        return 2;
    }
    const unsigned long seed = std::wcstoul(argv[1], nullptr, 10);
    const unsigned long cases = std::wcstoul(argv[2], nullptr, 10);
    const unsigned long first = argc > 3 ? std::wcstoul(argv[3], nullptr, 10) : 0;

    ScratchFolder root;
    const std::wstring fence = root / L"fence\\";
    const std::wstring zone = root / L"zone\\";
    make_folder(fence);
    make_file(fence + L"a.txt", "fence a");
    make_file(fence + L"w.txt", "fence w");
    const Snapshot fence_before = snapshot(fence);
    build_zone(zone);
    const Snapshot zone_before = snapshot(zone);

    Generator generator{std::mt19937(), zone, L""};
    wchar_t short_path[MAX_PATH];
    const std::wstring long_file = zone + L"w\\long name with spaces.text";
    const DWORD length = GetShortPathNameW(long_file.c_str(), short_path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        const std::wstring short_full(short_path, length);
        generator.short_name = short_full.substr(short_full.find_last_of(L'\\') + 1);
    }

    RunOptions in_zone;
    in_zone.working_folder = zone + L"w\\";
    std::map<int, unsigned long> exit_codes;
    unsigned long refused = 0;
    unsigned long changed = 0;
    unsigned long findings = 0;
    const auto start = std::chrono::steady_clock::now();
    for (unsigned long n = first; n < first + cases && findings < 20; ++n) {
        generator.random.seed(static_cast<std::mt19937::result_type>(seed * 1000003ul + n));
        const std::vector<std::wstring> args = generator.arguments();
        RunResult result = run_program(tolvi_exe(), args, in_zone);
        if (result.exit_code == -1) {
            // The process could not be started (a passing shortage of the
            // host); once more before it counts.
            Sleep(1000);
            result = run_program(tolvi_exe(), args, in_zone);
        }
        const Snapshot zone_after = snapshot(zone);
        Verdict verdict = judge(args, result, zone_before, zone_after);
        if (!(snapshot(fence) == fence_before) ||
            list_folder(root.path()) != std::vector<std::wstring>{L"fence", L"zone"}) {
            verdict.fail("something outside the zone changed");
        }
        ++exit_codes[result.exit_code];
        refused += verdict.refused ? 1 : 0;
        for (const std::string& finding : verdict.findings) {
            ++findings;
            std::printf("case %lu (seed %lu):%s\n  %s\n  out: %s\n  err: %s\n", n, seed,
                        shown(args).c_str(), finding.c_str(), result.out.substr(0, 300).c_str(),
                        result.err.substr(0, 300).c_str());
        }
        if (!(zone_after == zone_before)) {
            ++changed;
            build_zone(zone);
        }
        if (!(snapshot(fence) == fence_before) || list_folder(root.path()).size() != 2) {
            std::printf("stopping: cannot restore the scratch folder\n");
            return 1;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%lu cases (seed %lu) in %.1f s: %lu refused at the command line, %lu changed files;"
                " exit codes:",
                cases, seed, seconds, refused, changed);
    for (const auto& [code, count] : exit_codes) {
        std::printf(" %d x%lu", code, count);
    }
    std::printf("; %lu findings\n", findings);
    return findings == 0 ? 0 : 1;
}

#include "progress.h"

#include "console_writer.h"
#include "run_settings.h"

#include <algorithm>

namespace {

constexpr DWORD look_interval_ms = 250;
// A copy first seen at one look and still running this many looks later
// has lasted more than a second: its figure is shown from then on.
constexpr int looks_before_figure = 5;
// The widest figure, " 100%": the cells it takes, saved and restored.
constexpr SHORT figure_cells = 5;

// Who may touch the copy under way and its figure. The run's thread moves
// between no_copy, copying and ending; the watcher between copying and
// watched. Each side waits for the other only while the copy lasts long
// enough to show a figure.
enum Stage : int {
    no_copy,  // between copies
    copying,  // a copy runs; the watcher may take it
    watched,  // the watcher looks at its files or draws its figure
    ending,   // the copy has returned; the run's thread erases the figure
};

std::atomic<int> stage{no_copy};
// Which copy `copying` is about, so the watcher counts each copy's looks
// from its own start.
std::atomic<std::uint32_t> copy_number{0};
bool watcher_started = false;

// The copy under way, set before copying and read only while watched.
const std::wstring* copy_from = nullptr;
const std::wstring* copy_to = nullptr;
ReportedBytes reported;

// The figure of the copy under way: where it stands, what its cells held
// before it, and what it shows (empty: nothing drawn).
struct Figure {
    bool placed = false;  // its place has been chosen (room or not)
    bool room = false;
    COORD at{};
    WORD attributes = 0;
    CHAR_INFO saved[figure_cells]{};
    std::wstring text;
};
Figure figure;

// Writes `cells` over the figure's place, without moving the cursor or
// scrolling; the cursor is hidden meanwhile, as for the line end.
void put_cells(const CHAR_INFO* cells)
{
    SMALL_RECT area{figure.at.X, figure.at.Y, static_cast<SHORT>(figure.at.X + figure_cells - 1),
                    figure.at.Y};
    set_cursor_visible(false);
    WriteConsoleOutputW(settings.stdout_console, cells, COORD{figure_cells, 1}, COORD{0, 0},
                        &area);
    set_cursor_visible(true);
}

// The figure goes where the report text ended, which is where the cursor
// stands while the copy runs; when the rest of that row is too short, at
// the start of the next row if the buffer has one, else nowhere. The
// cells there are saved so that erasing puts back exactly what they held.
void place_figure()
{
    figure.placed = true;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(settings.stdout_console, &info) ||
        info.dwSize.X < figure_cells) {
        return;
    }
    COORD at = info.dwCursorPosition;
    if (at.X + figure_cells > info.dwSize.X) {
        if (at.Y + 1 >= info.dwSize.Y) {
            return;
        }
        at = COORD{0, static_cast<SHORT>(at.Y + 1)};
    }
    SMALL_RECT area{at.X, at.Y, static_cast<SHORT>(at.X + figure_cells - 1), at.Y};
    figure.room = ReadConsoleOutputW(settings.stdout_console, figure.saved,
                                     COORD{figure_cells, 1}, COORD{0, 0}, &area) != 0;
    figure.at = at;
    figure.attributes = info.wAttributes;
}

// Draws the copy's figure when it has changed; the cells the text leaves
// over keep what they held.
void show_figure()
{
    const std::wstring text = copy_figure(reported, *copy_from, *copy_to);
    if (text.empty() || text == figure.text) {
        return;
    }
    if (!figure.placed) {
        place_figure();
    }
    if (!figure.room || text.size() > static_cast<std::size_t>(figure_cells)) {
        return;
    }
    CHAR_INFO cells[figure_cells];
    std::copy(figure.saved, figure.saved + figure_cells, cells);
    for (std::size_t i = 0; i < text.size(); ++i) {
        cells[i].Char.UnicodeChar = text[i];
        cells[i].Attributes = figure.attributes;
    }
    put_cells(cells);
    figure.text = text;
}

// The one watcher of the run: looks at the copy under way at each beat of
// `timer`, and from its fifth look on shows its figure. It is never
// stopped: between copies it only waits, and the process's end ends it.
DWORD WINAPI watch_copies(LPVOID timer)
{
    std::uint32_t seen = 0;
    int looks = 0;
    while (WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0) {
        const std::uint32_t number = copy_number.load(std::memory_order_acquire);
        if (stage.load(std::memory_order_acquire) == no_copy) {
            continue;
        }
        if (number != seen) {
            seen = number;
            looks = 0;
        }
        int expected = copying;
        if (++looks < looks_before_figure ||
            !stage.compare_exchange_strong(expected, watched, std::memory_order_acq_rel)) {
            continue;
        }
        // Another copy may have begun between the two looks at the stage.
        if (copy_number.load(std::memory_order_acquire) == seen) {
            show_figure();
        }
        stage.store(copying, std::memory_order_release);
    }
    return 0;
}

// A periodic timer beats for the watcher: the looks keep their pace in
// real time, however long a look takes.
void start_watcher()
{
    const HANDLE timer = CreateWaitableTimerW(nullptr, FALSE, nullptr);
    if (timer == nullptr) {
        return;
    }
    LARGE_INTEGER first{};
    first.QuadPart = -10000LL * look_interval_ms;
    const HANDLE watcher =
        SetWaitableTimer(timer, &first, static_cast<LONG>(look_interval_ms), nullptr, nullptr, FALSE)
            ? CreateThread(nullptr, 0, watch_copies, timer, 0, nullptr)
            : nullptr;
    // The watcher holds the timer for the rest of the process.
    CloseHandle(watcher != nullptr ? watcher : timer);
}

std::uint64_t size_of(const std::wstring& path, bool& known)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    known = GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != 0;
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

} // namespace

std::wstring progress_text(std::uint64_t done, std::uint64_t total)
{
    if (done >= total) {
        return L" 100%";
    }
    // Sizes beyond 2^64 / 100 bytes (184 PB) are scaled down first, so that
    // the product fits; short of the end the figure stays below 100.
    const int shift = total > ~std::uint64_t{0} / 100 ? 7 : 0;
    const std::uint64_t percent = (done >> shift) * 100 / (total >> shift);
    return L" " + std::to_wstring(std::min<std::uint64_t>(percent, 99)) + L"%";
}

std::wstring copy_figure(const ReportedBytes& reported_bytes, const std::wstring& from,
                         const std::wstring& to)
{
    const std::uint64_t total = reported_bytes.total.load(std::memory_order_relaxed);
    if (total != not_reported) {
        return progress_text(reported_bytes.done.load(std::memory_order_relaxed), total);
    }
    // Where the platform reports nothing (Wine), the file being written
    // grows as the copy goes: its size is the bytes so far.
    bool source_known = false;
    bool written_known = false;
    const std::uint64_t source_size = size_of(from, source_known);
    const std::uint64_t written = size_of(to, written_known);
    return source_known && written_known ? progress_text(written, source_size) : std::wstring();
}

DWORD CALLBACK note_copy_progress(LARGE_INTEGER total, LARGE_INTEGER transferred, LARGE_INTEGER,
                                  LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE, LPVOID data)
{
    auto* reported_bytes = static_cast<ReportedBytes*>(data);
    reported_bytes->done.store(static_cast<std::uint64_t>(transferred.QuadPart),
                               std::memory_order_relaxed);
    reported_bytes->total.store(static_cast<std::uint64_t>(total.QuadPart),
                                std::memory_order_relaxed);
    return PROGRESS_CONTINUE;
}

ReportedBytes* begin_copy_progress(const std::wstring& from, const std::wstring& to)
{
    if (settings.quiet || settings.stdout_console == nullptr) {
        return nullptr;
    }
    if (!watcher_started) {
        watcher_started = true;
        start_watcher();
    }
    copy_from = &from;
    copy_to = &to;
    reported.total.store(not_reported, std::memory_order_relaxed);
    figure.placed = false;
    figure.room = false;
    figure.text.clear();
    copy_number.fetch_add(1, std::memory_order_relaxed);
    stage.store(copying, std::memory_order_release);
    return &reported;
}

void end_copy_progress()
{
    if (stage.load(std::memory_order_relaxed) == no_copy) {
        return;
    }
    int expected = copying;
    while (!stage.compare_exchange_strong(expected, ending, std::memory_order_acq_rel)) {
        if (expected == no_copy) {
            return;  // ended by another thread meanwhile
        }
        // The watcher is drawing, or another thread erasing: that takes a
        // few milliseconds.
        expected = copying;
        Sleep(1);
    }
    if (!figure.text.empty()) {
        const DWORD error = GetLastError();
        put_cells(figure.saved);
        SetLastError(error);
    }
    stage.store(no_copy, std::memory_order_release);
}

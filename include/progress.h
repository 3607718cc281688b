// The progress of a long copy, shown after the report line at a console.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

// What the platform's copy last reported through its progress routine;
// `total` is not_reported until it reports at all (never, under Wine).
constexpr std::uint64_t not_reported = ~std::uint64_t{0};
struct ReportedBytes {
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> total{not_reported};
};

// What the screen shows for `done` bytes of `total`: a blank and the whole
// percent, " 37%".
std::wstring progress_text(std::uint64_t done, std::uint64_t total);

// The figure of a copy of `from` to `to`: from the platform's report when
// there is one, else from the size written so far against the source's;
// empty when neither can be had.
std::wstring copy_figure(const ReportedBytes& reported, const std::wstring& from,
                         const std::wstring& to);

// CopyFileExW's progress routine: notes the two counts in `data` (a
// ReportedBytes) and returns at once; the copy's cancel flag does the
// cancelling.
DWORD CALLBACK note_copy_progress(LARGE_INTEGER total, LARGE_INTEGER transferred,
                                  LARGE_INTEGER stream_size, LARGE_INTEGER stream_transferred,
                                  DWORD stream, DWORD reason, HANDLE source, HANDLE destination,
                                  LPVOID data);

// Before the platform's copy of `from` to `to`, which stay alive until
// end_copy_progress: the data for note_copy_progress, or null when no
// figure is shown (standard output redirected, /q, /l). At the first such
// copy of the run it starts the one watcher thread, which shows the
// figure once the copy has lasted about a second.
ReportedBytes* begin_copy_progress(const std::wstring& from, const std::wstring& to);

// After the copy: the figure is erased, the screen and the cursor as the
// report line left them, before this returns. Keeps the last error. Any
// thread may call it (the first call ends the copy's progress), say
// before the process is ended in the middle of a copy.
void end_copy_progress();

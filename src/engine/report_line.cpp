#include "report_line.h"

#include "console_writer.h"
#include "message_catalog.h"
#include "path_text.h"
#include "run_settings.h"

namespace {

// "Copy: ", "Move: ", or for an existing destination "Update" (the /v
// time word) followed by ": " or " Move: ".
std::wstring label(const FileJob& job)
{
    if (!job.overwriting) {
        return settings.move ? L"Move: " : L"Copy: ";
    }
    std::wstring word = settings.verbose
        ? time_word(job.source_seconds, job.dest_seconds, settings.time_tolerance)
        : L"Update";
    return word + (settings.move ? L" Move: " : L": ");
}

std::wstring names_part(const FileJob& job)
{
    const bool names_differ = !same_text(job.source_file, job.dest_file);
    const std::wstring renamed = names_differ ? job.dest_file : std::wstring();
    if (settings.verbose) {
        return settings.source_dir + job.source_file + L" -> " + settings.dest_dir + renamed;
    }
    if (settings.show_destination) {
        return job.source_file + L" -> " + settings.dest_dir + renamed;
    }
    return names_differ ? job.source_file + L" -> " + job.dest_file : job.source_file;
}

} // namespace

const wchar_t* time_word(std::uint64_t source_seconds, std::uint64_t dest_seconds,
                         std::int32_t tolerance)
{
    if (times_within_tolerance(source_seconds, dest_seconds, tolerance)) {
        return L"Overwrite";
    }
    return source_seconds > dest_seconds ? L"Update" : L"Downdate";
}

std::wstring build_report_line(const FileJob& job)
{
    return label(job) + names_part(job);
}

void begin_report_line(const FileJob& job)
{
    if (!settings.quiet) {
        console_write(build_report_line(job), false, false);
    }
}

void end_report_line()
{
    if (settings.quiet) {
        return;
    }
    // The cursor is hidden while the line end scrolls the console, so it
    // does not flicker through the line; it is left visible afterwards.
    const bool console = settings.stdout_console != nullptr;
    if (console) {
        set_cursor_visible(false);
    }
    console_write(std::wstring(), false, true);
    if (console) {
        set_cursor_visible(true);
    }
}

void report_action_failure(const FileJob& job)
{
    if (settings.quiet) {
        write_error(job.dest_path, msg_copy_error);
    } else {
        console_write(L" ###Error###", false, true);
    }
}

#include "run_driver.h"

#include "console_writer.h"
#include "copy_engine.h"
#include "exit_codes.h"
#include "message_catalog.h"
#include "path_text.h"
#include "run_settings.h"
#include "scoped_handles.h"

#include <cwctype>
#include <vector>

namespace {

// Refuses a copy of a folder onto itself, or of a file onto itself. True
// when the run may go on.
bool folders_may_be_used(const RunArguments& run)
{
    if (!same_text_ignoring_case(settings.source_dir, settings.dest_dir)) {
        return true;
    }
    if (run.dest_name.empty()) {
        write_message(msg_same_folder);
        return false;
    }
    if (same_text_ignoring_case(run.dest_name, run.source_name)) {
        write_message(msg_same_file);
        return false;
    }
    return true;
}

// The file-system name of the volume that holds `folder`, empty when it
// cannot be had. It is asked through a handle of the volume root first:
// under Wine the query by path reads the drive as a device, and where it
// cannot it warns on the process's standard error. A root the user may
// not open is asked by its path.
std::wstring file_system_name(const std::wstring& folder)
{
    const std::wstring root = volume_root(folder);
    wchar_t name[260] = {};
    {
        const FileHandle handle(CreateFileW(root.c_str(), FILE_READ_ATTRIBUTES,
                                            share_all,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                            nullptr));
        if (handle.is_open() && GetVolumeInformationByHandleW(handle.get(), nullptr, 0, nullptr,
                                                              nullptr, nullptr, name, 260)) {
            return name;
        }
    }
    name[0] = L'\0';
    GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, name, 260);
    return name;
}

// The root by the text of the path: the drive root, or the server and
// share of a network path (also in its \\?\UNC\ form).
std::wstring volume_root_by_text(const std::wstring& folder)
{
    std::size_t end = std::wstring::npos;
    if (!folder.empty() && folder[0] == L'\\') {
        const bool unc = folder.size() >= 8 && _wcsnicmp(folder.c_str(), L"\\\\?\\UNC\\", 8) == 0;
        end = folder.size() > 2 ? folder.find(L'\\', unc ? 8 : 2) : std::wstring::npos;
        if (end != std::wstring::npos) {
            end = folder.find(L'\\', end + 1);
        }
    } else {
        end = folder.find(L'\\');
    }
    return end == std::wstring::npos ? folder : folder.substr(0, end + 1);
}

// `form`, made from platform_path(`given`), without the prefix that
// platform_path added: the path as the user's paths show it.
std::wstring without_added_prefix(const std::wstring& form, const std::wstring& given)
{
    if (platform_path(given) == given) {
        return form;
    }
    if (form.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        return L"\\\\" + form.substr(8);
    }
    return form.compare(0, 4, L"\\\\?\\") == 0 ? form.substr(4) : form;
}

// Without a destination, the current folder. A current folder whose full
// path cannot be made is refused as a typed "." would be; false then.
bool supply_default_destination()
{
    if (!settings.dest_dir.empty()) {
        return true;
    }
    std::wstring current;
    if (!make_full_path(L".", current)) {
        write_error(L".", msg_name_invalid);
        return false;
    }
    settings.dest_dir = current + L"\\";
    return true;
}

// Default destination, same-folder refusal, doubled backslash, time
// tolerance, normalized folders. False when the run has ended.
bool prepare_folders(const RunArguments& run)
{
    if (!supply_default_destination() || !folders_may_be_used(run)) {
        return false;
    }
    collapse_doubled_backslash(settings.source_dir);
    collapse_doubled_backslash(settings.dest_dir);
    if (file_system_name(settings.source_dir) != file_system_name(settings.dest_dir)) {
        settings.time_tolerance = 2;
    }
    settings.source_dir = normalize_path(settings.source_dir);
    settings.dest_dir = normalize_path(settings.dest_dir);
    // Two spellings of one folder (a short name, "..", letter case) only
    // meet here; a move onto the same file would delete it.
    return folders_may_be_used(run);
}

// The highest exit code wins; the run's so far is kept in settings for a
// Ctrl+C at a question, which ends the process there.
void raise_exit_code(int code)
{
    if (code > settings.exit_code) {
        settings.exit_code = code;
    }
}

void note_outcome(FileOutcome outcome)
{
    if (outcome == FileOutcome::refused) {
        raise_exit_code(exit_file_refused);
    } else if (outcome == FileOutcome::not_needed) {
        raise_exit_code(exit_not_all_done);
    }
}

// A Ctrl+C stopped the run by choice.
int exit_code_of_run()
{
    if (run_stopping()) {
        raise_exit_code(exit_not_all_done);
    }
    return settings.exit_code;
}

// Single mode: one named file. Returns the exit code; exit_not_started
// when the run has ended with its message.
int run_single_file(RunArguments& run, const std::wstring& given_folder)
{
    const std::wstring path = settings.source_dir + run.source_name;
    DWORD attributes = 0;
    {
        // A folder the user may not list hides its files' stored names,
        // even from a search for one name; the file exists (resolution saw
        // it), so this is no typo.
        FileSearch search(platform_path(path).c_str());
        if (!search.found() && search.failed()) {
            write_error(given_folder, msg_folder_unreadable);
            raise_exit_code(exit_file_refused);
            return exit_code_of_run();
        }
        if (!search.found()) {
            write_error(path, msg_file_not_found);
            return exit_not_started;
        }
        run.source_name = search.entry().name;
        attributes = search.entry().attrib;
    }
    if (!settings.include_hidden_system && (attributes & hidden_or_system) != 0) {
        write_error(path, msg_hidden_system);
        raise_exit_code(exit_file_refused);
        return exit_code_of_run();
    }
    if (run.dest_name.empty()) {
        run.dest_name = run.source_name;
    } else {
        const std::wstring dest_path = settings.dest_dir + run.dest_name;
        FileSearch search(platform_path(dest_path).c_str());
        if (search.found()) {
            run.dest_name = search.entry().name;
        }
    }
    // Both names are now as stored, so a file named by its short name and
    // by its long name meets itself here.
    if (same_text_ignoring_case(settings.source_dir, settings.dest_dir) &&
        same_text_ignoring_case(run.source_name, run.dest_name)) {
        write_message(msg_same_file);
        return exit_not_started;
    }
    note_outcome(copy_one_file(run.source_name, run.dest_name));
    return exit_code_of_run();
}

// Pattern mode: every file of the listing, in its order; folders, and
// hidden or system files without /h, are passed over, and a Ctrl+C ends
// the loop. The listing stays open while the engine works.
// Returns the exit code. A folder or pattern that matched no file (only
// folders, hidden files, or nothing) is written as not found, but nothing
// went wrong: its folder exists, it just had nothing to copy this time.
// A listing that fails, at its start or part-way (a network share that
// drops), is written after `given_folder`, the source folder as the
// arguments named it: the files it did not list were never looked at.
int run_pattern(const RunArguments& run, const std::wstring& given_folder)
{
    const std::wstring path = settings.source_dir + run.source_name;
    std::int32_t handled = 0;
    bool unreadable = false;
    {
        FileSearch search(platform_path(path).c_str());
        for (bool more = search.found(); more; more = search.next()) {
            const _wfinddata64i32_t& entry = search.entry();
            // A staging file (a killed run's) is passed over as a folder is.
            if ((entry.attrib & _A_SUBDIR) != 0 || is_staging_name(entry.name)) {
                continue;
            }
            if (!settings.include_hidden_system && (entry.attrib & hidden_or_system) != 0) {
                continue;
            }
            // Ctrl+C, at any moment before: no further file is started.
            if (run_stopping()) {
                break;
            }
            const std::wstring name = entry.name;
            note_outcome(copy_one_file(name, name));
            ++handled;
        }
        unreadable = search.failed();
    }
    if (unreadable) {
        write_error(given_folder, msg_folder_unreadable);
        raise_exit_code(exit_file_refused);
    } else if (handled == 0 && !run_stopping()) {
        write_error(path, msg_file_not_found);
        raise_exit_code(exit_not_all_done);
    }
    return exit_code_of_run();
}

void write_summary()
{
    if (!settings.count_only) {
        return;
    }
    if (settings.new_count > 0) {
        const MessageId id = settings.move ? msg_count_moved : msg_count_copied;
        console_write(format_count(settings.new_count) + std::wstring(message_text(id)), false, true);
    }
    if (settings.overwrite_count > 0) {
        const MessageId id = settings.move ? msg_count_moved_over : msg_count_copied_over;
        console_write(format_count(settings.overwrite_count) + std::wstring(message_text(id)), false,
                      true);
    }
}

} // namespace

std::wstring format_count(std::int32_t count)
{
    return std::to_wstring(count);
}

std::wstring volume_root(const std::wstring& folder)
{
    const std::wstring path = platform_path(folder);
    std::vector<wchar_t> root(path.size() + 2);
    if (!GetVolumePathNameW(path.c_str(), root.data(), static_cast<DWORD>(root.size()))) {
        return volume_root_by_text(folder);
    }
    // Spelt as the folder spells it, where the folder begins with it.
    const std::wstring found = root.data();
    const std::wstring start = path.substr(0, found.size());
    return same_text_ignoring_case(start, found) ? start : found;
}

void collapse_doubled_backslash(std::wstring& folder)
{
    if (folder.size() <= 1) {
        return;
    }
    const std::size_t pair = folder.rfind(L"\\\\");
    if (pair != std::wstring::npos && pair != 0) {
        folder.erase(pair, 1);
    }
}

std::wstring normalize_path(const std::wstring& path)
{
    std::wstring short_form;
    std::wstring long_form;
    // Each call takes its own input in the platform's form: the short form
    // of a long folder usually fits the classic limit again (and Wine's
    // long-form query leaves a \\?\ path as it is).
    if (!path_form(GetShortPathNameW, platform_path(path), short_form)) {
        return path;
    }
    short_form = without_added_prefix(short_form, path);
    if (!path_form(GetLongPathNameW, platform_path(short_form), long_form)) {
        return path;
    }
    long_form = without_added_prefix(long_form, short_form);
    if (long_form.size() >= 2 && long_form[1] == L':') {
        long_form[0] = static_cast<wchar_t>(std::towupper(long_form[0]));
    }
    return long_form;
}

int run_files(RunArguments& run)
{
    // The source folder as the arguments named it, for a message about its
    // listing: the prepared one is in its long form.
    std::wstring given_folder = settings.source_dir;
    collapse_doubled_backslash(given_folder);
    if (!prepare_folders(run)) {
        return exit_not_started;
    }
    // Its message is written, and the command line is sound.
    if (run.nothing_matched) {
        return exit_not_all_done;
    }
    const int exit_code = run.pattern_mode ? run_pattern(run, given_folder) : run_single_file(run, given_folder);
    if (exit_code == exit_not_started) {
        return exit_code;
    }
    write_summary();
    return exit_code;
}

int run_command_line(int count, wchar_t* const* args)
{
    RunArguments run;
    if (!parse_arguments(count, args, run)) {
        return exit_not_started;
    }
    return run_files(run);
}

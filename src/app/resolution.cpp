#include "command_line.h"

#include "console_writer.h"
#include "message_catalog.h"
#include "path_text.h"
#include "run_settings.h"
#include "scoped_handles.h"

#include <io.h>

#include <cwchar>

namespace {

// Ends the run: `arg` followed by the message, or the message alone.
bool refuse(const std::wstring& arg, MessageId id)
{
    write_error(arg, id);
    return false;
}

bool refuse_alone(MessageId id)
{
    write_message(id);
    return false;
}

bool has_wildcard(const std::wstring& arg)
{
    return arg.find_first_of(L"*?") != std::wstring::npos;
}

// Runs a search for `pattern`; true when anything matches. Fills
// `first_is_folder` from the first match, and `failed` with whether the
// search failed rather than matched nothing.
bool search_matches(const std::wstring& pattern, bool& first_is_folder, bool& failed)
{
    const FileSearch search(pattern.c_str());
    failed = search.failed();
    if (!search.found()) {
        return false;
    }
    first_is_folder = (search.entry().attrib & _A_SUBDIR) != 0;
    return true;
}

// `arg` names an existing folder: the source's whole contents, or the
// destination folder.
bool record_folder(const std::wstring& arg, RunArguments& run)
{
    std::wstring full;
    if (!make_full_path(arg, full)) {
        return refuse(arg, msg_name_invalid);
    }
    if (settings.source_dir.empty()) {
        settings.source_dir = full + L"\\";
        run.source_name = L"*";
        run.pattern_mode = true;
    } else {
        settings.dest_dir = full + L"\\";
    }
    return true;
}

// `arg` names an existing file (or a device).
bool record_existing_file(const std::wstring& arg, RunArguments& run)
{
    std::wstring full;
    std::wstring folder;
    std::wstring name;
    if (!make_full_path(arg, full) || !split_full_path(full, folder, name)) {
        return refuse(arg, msg_name_invalid);
    }
    if (same_text_ignoring_case(folder, L"\\\\.\\")) {
        return refuse(arg, msg_not_file_or_folder);
    }
    if (settings.source_dir.empty()) {
        settings.source_dir = folder;
        run.source_name = name;
        return true;
    }
    if (run.pattern_mode) {
        return refuse_alone(msg_wildcard_dest_name);
    }
    settings.dest_dir = folder;
    run.dest_name = name;
    return true;
}

// A source that does not exist as typed but matches as a pattern.
bool record_source_pattern(const std::wstring& arg, bool first_is_folder, RunArguments& run)
{
    std::wstring full;
    std::wstring folder;
    std::wstring name;
    if (!make_full_path(arg, full) || !split_full_path(full, folder, name)) {
        return refuse(arg, msg_name_invalid);
    }
    if (!has_wildcard(arg) && first_is_folder) {
        settings.source_dir = full + L"\\";
        run.source_name = L"*";
    } else {
        settings.source_dir = folder;
        run.source_name = name;
    }
    run.pattern_mode = true;
    return true;
}

// A destination that does not exist yet: a new file in an existing folder.
bool record_new_destination(const std::wstring& arg, RunArguments& run)
{
    std::wstring full;
    std::wstring folder;
    std::wstring name;
    if (!make_full_path(arg, full) || !split_full_path(full, folder, name)) {
        return refuse(arg, msg_file_name_invalid);
    }
    if (_waccess_s(folder.c_str(), 0) != 0) {
        return refuse(arg, msg_folder_not_found);
    }
    if (has_forbidden_name_char(name)) {
        return refuse(arg, msg_file_name_invalid);
    }
    settings.dest_dir = folder;
    run.dest_name = name;
    return true;
}

// True when the folder part of the full path `full` is an existing
// folder; fills `folder` with it.
bool is_in_existing_folder(const std::wstring& full, std::wstring& folder)
{
    std::wstring name;
    if (!split_full_path(full, folder, name)) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A pattern (wildcards in its name) whose folder exists: when it matches
// nothing, that folder just had no such file this time, unlike a typo or a
// missing folder.
bool is_pattern_in_existing_folder(const std::wstring& arg, const std::wstring& full)
{
    std::wstring folder;
    return has_wildcard(arg) && is_in_existing_folder(full, folder);
}

// The folder of `full` exists but its own listing fails too (one the user
// may not list): a name searched there can neither match nor be missing.
// A search that fails in a folder that lists fails on the name instead.
bool is_in_unreadable_folder(const std::wstring& full)
{
    std::wstring folder;
    if (!is_in_existing_folder(full, folder)) {
        return false;
    }
    const FileSearch contents((folder + L"*").c_str());
    return !contents.found() && contents.failed();
}

// `arg` does not exist as typed: a pattern, a folder that only lists,
// or a new destination file.
bool record_missing(const std::wstring& arg, RunArguments& run)
{
    bool first_is_folder = false;
    bool failed = false;
    if (settings.source_dir.empty() && search_matches(arg, first_is_folder, failed)) {
        return record_source_pattern(arg, first_is_folder, run);
    }
    bool ignored = false;
    if (search_matches(arg + L"\\*", first_is_folder, ignored)) {
        return record_folder(arg, run);
    }
    if (settings.source_dir.empty()) {
        // A path too long for the full-path buffer may exist and still be
        // invisible to the attribute query on systems that cap path
        // lengths; calling it "not found" would mislead.
        std::wstring full;
        if (!make_full_path(arg, full)) {
            return refuse(arg, msg_name_invalid);
        }
        // The run's listing then says that the folder could not be read.
        if (failed && is_in_unreadable_folder(full)) {
            return record_source_pattern(arg, false, run);
        }
        if (!is_pattern_in_existing_folder(arg, full)) {
            return refuse(arg, msg_file_or_folder_not_found);
        }
        // That folder has no such file tonight: said now, and the rest of
        // the command line is still read and checked, so that a broken one
        // is not taken for a run with nothing to do.
        write_error(arg, msg_file_or_folder_not_found);
        run.nothing_matched = true;
        return record_source_pattern(arg, false, run);
    }
    if (run.pattern_mode) {
        return refuse_alone(msg_wildcard_dest_name);
    }
    return record_new_destination(arg, run);
}

} // namespace

bool has_forbidden_path_char(const std::wstring& arg)
{
    return arg.find_first_of(L"<>|/\"") != std::wstring::npos;
}

bool has_forbidden_name_char(const std::wstring& name)
{
    return name.find_first_of(L"*?:\\<>|/\"") != std::wstring::npos;
}

bool resolve_positional(const std::wstring& arg, RunArguments& run)
{
    const bool both_recorded = !settings.source_dir.empty() && !settings.dest_dir.empty();
    if (arg[0] == L'/' || both_recorded) {
        return refuse(arg, msg_param_invalid);
    }
    if (has_forbidden_path_char(arg)) {
        return refuse(arg, msg_name_invalid);
    }
    const DWORD attributes = GetFileAttributesW(arg.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return record_missing(arg, run);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return record_folder(arg, run);
    }
    return record_existing_file(arg, run);
}

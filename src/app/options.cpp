#include "command_line.h"

#include "console_writer.h"
#include "message_catalog.h"
#include "run_settings.h"

#include <cwchar>
#include <initializer_list>

namespace {

struct OptionRow {
    const wchar_t* name;
    bool RunSettings::*flag;
    bool RunSettings::*second_flag;  // /mr sets two flags
};

const OptionRow option_table[] = {
    {L"/a", &RunSettings::no_attributes, nullptr},
    {L"/c", &RunSettings::keep_create_time, nullptr},
    {L"/e", &RunSettings::existing_only, nullptr},
    {L"/f", &RunSettings::no_overwrite_prompt, nullptr},
    {L"/h", &RunSettings::include_hidden_system, nullptr},
    {L"/l", &RunSettings::count_only, nullptr},
    {L"/m", &RunSettings::move, nullptr},
    {L"/mr", &RunSettings::move, &RunSettings::move_read_only},
    {L"/p", &RunSettings::prompt_new, nullptr},
    {L"/q", &RunSettings::quiet, nullptr},
    {L"/r", &RunSettings::overwrite_read_only, nullptr},
    {L"/t", &RunSettings::show_destination, nullptr},
    {L"/u", &RunSettings::newer_only, nullptr},
    {L"/v", &RunSettings::verbose, nullptr},
};

} // namespace

bool apply_option(const wchar_t* arg)
{
    for (const OptionRow& row : option_table) {
        if (_wcsicmp(arg, row.name) == 0) {
            settings.*row.flag = true;
            if (row.second_flag != nullptr) {
                settings.*row.second_flag = true;
            }
            return true;
        }
    }
    return false;
}

const wchar_t* conflicting_options()
{
    int display_options = 0;
    for (const bool given : {settings.verbose, settings.show_destination, settings.quiet,
                             settings.count_only}) {
        display_options += given ? 1 : 0;
    }
    if (display_options >= 2) {
        return L"/l /q /t /v";
    }
    if (settings.prompt_new && settings.existing_only) {
        return L"/e /p";
    }
    if (settings.prompt_new && settings.quiet) {
        return L"/p /q";
    }
    return nullptr;
}

void derive_implied_flags()
{
    // The order matters: /l makes the run quiet but still asks before
    // overwriting; /q turns off both.
    if (settings.quiet) {
        settings.no_overwrite_prompt = true;
    }
    if (settings.count_only) {
        settings.quiet = true;
    }
}

bool parse_arguments(int count, wchar_t* const* args, RunArguments& run)
{
    for (int i = 0; i < count; ++i) {
        const std::wstring arg = args[i];
        if (arg.empty()) {
            write_message(msg_param_empty);
            return false;
        }
        if (apply_option(arg.c_str())) {
            continue;
        }
        if (!resolve_positional(arg, run)) {
            return false;
        }
    }
    // Checked on the flags as given, before the implied ones are added.
    if (const wchar_t* options = conflicting_options()) {
        write_error(options, msg_param_conflict);
        return false;
    }
    if (settings.source_dir.empty()) {
        write_message(msg_source_missing);
        return false;
    }
    derive_implied_flags();
    return true;
}

// Reading the command line: options into settings, positional arguments
// resolved by the file system into the source and destination.
#pragma once

#include <string>

// What the command line names besides the two folders in settings.
struct RunArguments {
    std::wstring source_name;   // file name, or pattern ("*" for a folder)
    std::wstring dest_name;     // destination file name, empty unless named
    bool pattern_mode = false;  // source is a folder or a pattern
    // The source pattern matched no file in its existing folder: its
    // message is written, and once the rest of the command line has passed
    // its checks the run ends with nothing to do.
    bool nothing_matched = false;
};

// Reads every argument left to right, checks the option combinations and
// derives the implied flags. False when the run has ended with a message.
bool parse_arguments(int count, wchar_t* const* args, RunArguments& run);

// Sets the flags of the option `arg` names; false if it names none.
bool apply_option(const wchar_t* arg);

// The option list of the first forbidden combination of the flags set,
// or nullptr when they may be used together.
const wchar_t* conflicting_options();

// /q implies no overwrite question; /l then implies /q.
void derive_implied_flags();

// Classifies one positional argument into source or destination. False
// when the run has ended with a message.
bool resolve_positional(const std::wstring& arg, RunArguments& run);

// True when `arg` holds < > | / or a double quote.
bool has_forbidden_path_char(const std::wstring& arg);

// True when `name` holds * ? : \ < > | / or a double quote.
bool has_forbidden_name_char(const std::wstring& name);

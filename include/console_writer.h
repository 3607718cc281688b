// The one writer of the tool's wide-string output.
#pragma once

#include "message_catalog.h"

#include <string>

// Writes `text` (plus a line feed when add_newline) to standard error or
// standard output: as UTF-16 when that stream is a console, else as bytes
// in the run's code page (ANSI or UTF-8, no byte-order mark) through the
// narrow stream in text mode. Failures are silent.
void console_write(std::wstring text, bool to_stderr, bool add_newline);

// Shows or hides the cursor of the console on standard output, at the
// size saved at start-up.
void set_cursor_visible(bool visible);

// Writes `subject` directly followed by the catalogue text of `id`, as one
// error line on standard error.
void write_error(const std::wstring& subject, MessageId id);

// Writes the catalogue text of `id` alone, as one error line on standard
// error.
void write_message(MessageId id);

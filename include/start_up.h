// Start-up of the tool: console probing, language choice and the three
// special single arguments.
#pragma once

#include "message_catalog.h"

#include <windows.h>

// Japanese only when the console can show it (output code page 932 or
// 65001) and the user's interface language is Japanese (1041).
Language choose_language(UINT output_code_page, LANGID ui_language);

// Fills the console and language fields of settings: which of standard
// output and standard error are consoles, the cursor size, language and
// utf8_console.
void probe_console();

// The version banner line, without line ends: " Tolvi 2.01 64bit - "
// followed by the build date and time and one blank.
const char* version_banner();

// Serves /?, /void and /ver (case-insensitive). Returns true when `arg`
// was one of them and has been served.
bool serve_special_argument(const wchar_t* arg);

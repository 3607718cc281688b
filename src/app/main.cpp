// Entry point of Tolvi: copies or moves files from the command line.
#include "exit_codes.h"
#include "run_driver.h"
#include "start_up.h"

int wmain(int argc, wchar_t* argv[])
{
    probe_console();

    // Skip the program's own path.
    const int count = argc - 1;
    wchar_t** args = argv + 1;
    if (count == 1 && serve_special_argument(args[0])) {
        return exit_all_done;
    }
    return run_command_line(count, args);
}

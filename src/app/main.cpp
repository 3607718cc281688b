// Entry point of Tolvi: copies or moves files from the command line.
#include "control_handler.h"
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
    // From here Ctrl+C, Ctrl+Break or a closed console ends the run with
    // its own exit code and counts, not the platform's.
    install_control_handler();
    return run_command_line(count, args);
}

// Prints the version resource of the exe named on the command line, one
// field a line, for the check of the release package:
//   ProductName: Tolvi
//   ProductVersion: 2.01
//   FileVersion: 2.01
//   Fixed: 2.1.0.0
// Exit code 1 when the file has no version resource.
#include "../support/version_resource.h"

#include <cstdio>

int wmain(int argc, wchar_t* argv[])
{
    if (argc != 2) {
        return 2;
    }
    const VersionResource version = read_version_resource(argv[1]);
    if (!version.found) {
        return 1;
    }
    std::printf("ProductName: %ls\nProductVersion: %ls\nFileVersion: %ls\nFixed: %u.%u.%u.%u\n",
                version.product_name.c_str(), version.product_version.c_str(),
                version.file_version.c_str(), version.fixed[0], version.fixed[1],
                version.fixed[2], version.fixed[3]);
    return 0;
}

#include <cstring>

#include "platform/platform.h"
#include "tools/pak/pak.h"

int main(int argc, char **argv)
{
    console_start();
    // --codepage takes the words as UTF-8, which on Windows the runtime's
    // argv (the ANSI code page) cannot hold.
    for (int i = 1; i < argc; ++i)
        if (!std::strncmp(argv[i], "--codepage", 10)) argv = cmdline_utf8_argv(argc, argv);
    // An interrupted command leaves no temporary file behind.
    disk_temp_interrupts();
    return pak_main(argc, argv);
}

#include "platform/platform.h"
#include "tools/pak/pak.h"

int main(int argc, char **argv)
{
    console_start();
    // An interrupted command leaves no temporary file behind.
    disk_temp_interrupts();
    return pak_main(argc, argv);
}

#include "tools/pak/pak.h"

#include "platform/platform.h"

int main(int argc, char **argv)
{
    console_start();
    return pak_main(argc, argv);
}

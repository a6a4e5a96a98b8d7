// What a system DLL does when it needs another: loads it by its bare name,
// with the default search, which starts in the program's own folder.
//   load_by_name NAME...
#include <windows.h>

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) LoadLibraryA(argv[i]);
    return 0;
}

// Stands in for the new game executable in a payload built without the real
// one: run, it says which game and edition it stands for.
#include <windows.h>

#include <cstdio>

#include "driver/edition.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char text[128];
    std::snprintf(text, sizeof text, "Korin III %s\n\nStand-in for the new game executable.",
                  edition.name);
    MessageBoxA(nullptr, text, "Korin III", MB_OK | MB_ICONINFORMATION);
    return 0;
}

// Lumvane: the setup's dialog presenting the maker's other products.
#include <windows.h>

#include "lumvane.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // The command line is not read; closing the dialog ends the program with 0.
    return lumvane::RunDialog(instance) == 0 ? 0 : 1;
}

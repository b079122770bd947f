#include "launcher/startup.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
    return korvel::launcher_main(instance, show_command);
}

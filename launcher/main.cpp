#include "launcher/release_key.h"
#include "launcher/startup.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
#ifdef KORVEL_RELEASE_PUBLIC_KEY
    korvel::set_release_public_key(KORVEL_RELEASE_PUBLIC_KEY);
#endif
    return korvel::launcher_main(instance, show_command);
}

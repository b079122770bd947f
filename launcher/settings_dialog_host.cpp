#include "launcher/launcher_app.h"

namespace korvel {

void LauncherApp::open_settings_dialog() {
    // Not built yet: the Settings button does nothing.
}

}  // namespace korvel

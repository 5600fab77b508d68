// The tray linked into the executable (the build's choice where a module of its own would gain
// nothing, as in a macOS bundle whose menu bar item is always shown).
#include "app/TrayLoader.h"

namespace fennimar {

TrayModule *loadTrayModule()
{
    return fennimar_tray_module();
}

}  // namespace fennimar

// A build without GTK: people get the terminal desktop.
#include "platform/emu/desktops/desktops.h"

namespace emu {

std::shared_ptr<Desktop> MakeGtkDesktop() {
    return nullptr;
}

}  // namespace emu

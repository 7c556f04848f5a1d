// A build without GTK: people get the terminal desktop.
#include "platform/emu/user32/desktop.h"

namespace emu {

std::shared_ptr<Desktop> MakeGtkDesktop() {
    return nullptr;
}

}  // namespace emu

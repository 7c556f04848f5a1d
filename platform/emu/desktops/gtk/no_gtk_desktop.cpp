// A build without GTK: people get the terminal desktop.
#include "platform/emu/desktops/desktops.h"

namespace emu {

std::shared_ptr<Desktop> MakeGtkDesktop(std::string* whyNot) {
    if (whyNot != nullptr) *whyNot = "this build has no GTK";
    return nullptr;
}

}  // namespace emu

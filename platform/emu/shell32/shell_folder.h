// Control half of the emulated shell folders.
#pragma once

#include <string>

namespace emu {

// The folder SHGetFolderPathA reports for CSIDL_COMMON_APPDATA. Until a test
// sets it, it is $EMU_COMMON_APPDATA, or /var/lib when that is unset.
void SetCommonAppDataFolder(const std::string& folder);

}  // namespace emu

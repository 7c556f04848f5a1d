// Test control of the Windows emulation: what a test may change or inspect
// beyond the Windows functions themselves. Linux build only.
#pragma once

#include "platform/emu/user32/desktop_control.h"
#include "platform/emu/faults.h"
#include "platform/emu/kernel32/handle_table.h"
#include "platform/emu/kernel32/local_memory.h"
#include "platform/emu/shell32/shell_folder.h"

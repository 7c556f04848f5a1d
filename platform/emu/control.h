// Test control of the Windows emulation: what a test may change or inspect
// beyond the Windows functions themselves. Linux build only.
#pragma once

#include "platform/emu/desktop_control.h"
#include "platform/emu/faults.h"
#include "platform/emu/handle_table.h"
#include "platform/emu/local_memory.h"
#include "platform/emu/shell_folder.h"

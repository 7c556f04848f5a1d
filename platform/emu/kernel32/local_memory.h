// Control half of the emulated local heap.
#pragma once

#include <cstddef>

namespace emu {

// Blocks from LocalAlloc not yet given back with LocalFree.
std::size_t LiveLocalBlocks();

}  // namespace emu

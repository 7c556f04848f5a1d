#include "platform/emu/kernel32/local_memory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "platform/emu/faults.h"
#include "platform/emu/kernel32/kernel_api.h"

namespace {

// Live blocks are tracked so that freeing a foreign or already freed pointer
// fails as Windows does instead of corrupting the heap.
struct LocalHeap {
    std::mutex mutex;
    std::unordered_set<void*> blocks;
};

LocalHeap& TheHeap() {
    static LocalHeap* heap = new LocalHeap;  // blocks may be freed during exit
    return *heap;
}

}  // namespace

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
    if (emu::InjectedFailure("LocalAlloc")) return nullptr;
    if ((flags & ~static_cast<UINT>(LMEM_ZEROINIT)) != LMEM_FIXED) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // A zero-byte block is still a distinct block on Windows.
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if ((flags & LMEM_ZEROINIT) != 0) std::memset(block, 0, bytes == 0 ? 1 : bytes);
    LocalHeap& heap = TheHeap();
    std::lock_guard<std::mutex> lock(heap.mutex);
    heap.blocks.insert(block);
    return block;
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
    if (memory == nullptr) return nullptr;
    LocalHeap& heap = TheHeap();
    {
        std::lock_guard<std::mutex> lock(heap.mutex);
        if (heap.blocks.erase(memory) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return memory;
        }
    }
    std::free(memory);
    return nullptr;
}

namespace emu {

std::size_t LiveLocalBlocks() {
    LocalHeap& heap = TheHeap();
    std::lock_guard<std::mutex> lock(heap.mutex);
    return heap.blocks.size();
}

}  // namespace emu

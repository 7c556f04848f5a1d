// Owner of a block that Windows allocated with LocalAlloc.
#pragma once

#include <memory>

#include "platform/win32.h"

namespace platform {

struct LocalFreeDeleter {
    void operator()(void* block) const noexcept {
        if (block != nullptr) LocalFree(block);
    }
};

template <typename T>
using LocalBlock = std::unique_ptr<T, LocalFreeDeleter>;

}  // namespace platform

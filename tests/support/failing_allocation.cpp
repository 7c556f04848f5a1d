#include "tests/support/failing_allocation.h"

#include <cstdlib>
#include <new>

namespace {

thread_local bool shortage = false;
thread_local unsigned long allowedFirst = 0;
thread_local unsigned long refused = 0;

// Null when refused; malloc-based, so every sanitizer still sees the memory.
void* Allocate(std::size_t size) noexcept {
    if (shortage && allowedFirst == 0) {
        ++refused;
        return nullptr;
    }
    if (shortage) --allowedFirst;
    return std::malloc(size == 0 ? 1 : size);
}

void* AllocateOrThrow(std::size_t size) {
    void* memory = Allocate(size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

}  // namespace

namespace failing_allocation {

void Start(unsigned long allowed) noexcept {
    allowedFirst = allowed;
    refused = 0;
    shortage = true;
}

void Stop() noexcept {
    shortage = false;
}

unsigned long Refused() noexcept {
    return refused;
}

}  // namespace failing_allocation

void* operator new(std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}

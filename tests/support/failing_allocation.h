// A memory shortage on one thread, for a test executable of its own: linking
// failing_allocation.cpp replaces the global operator new and delete. While
// a thread's shortage lasts, every allocation it makes throws std::bad_alloc
// (the nothrow forms return null); other threads allocate as usual.
#pragma once

namespace failing_allocation {

// Starts the calling thread's shortage once it has made `allowed` more
// allocations, and restarts its count of refusals.
void Start(unsigned long allowed = 0) noexcept;
void Stop() noexcept;
// Allocations refused on the calling thread since Start.
unsigned long Refused() noexcept;

}  // namespace failing_allocation

// Input that a desktop took from a person, waiting for the thread of the
// dialog it is for: only that thread may perform it.
#pragma once

#include <utility>
#include <vector>

#include "platform/emu/user32/window_table.h"

namespace emu {

// Takes from `pending` (whose elements name their dialog in `top`) the
// input for windows of `thread`, and drops the input for windows that are
// gone. The caller holds the lock that guards `pending`.
template <typename Pending>
std::vector<Pending> TakeInputOf(std::vector<Pending>* pending, DWORD thread) {
    std::vector<Pending> mine;
    for (auto it = pending->begin(); it != pending->end();) {
        WindowData data;
        const bool alive = ReadWindow(it->top, &data);
        if (alive && data.thread != thread) {
            ++it;
            continue;
        }
        if (alive) mine.push_back(std::move(*it));
        it = pending->erase(it);
    }
    return mine;
}

}  // namespace emu

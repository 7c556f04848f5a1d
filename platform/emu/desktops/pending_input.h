// Input that a desktop took from a person, waiting for the thread of the
// dialog it is for: only that thread may perform it.
#pragma once

#include <iterator>
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

// One input at a time, as a person's reach the program: takes the first
// input for `thread` (none when there is none) and leaves the rest, to be
// taken once the program has taken all that this one posts and its queue
// is empty again. `next` is the dialog of the next one, to be woken with a
// null message (an input may post nothing), or null.
template <typename Pending>
std::vector<Pending> TakeNextInputOf(std::vector<Pending>* pending, DWORD thread, HWND* next) {
    std::vector<Pending> mine = TakeInputOf(pending, thread);
    *next = mine.size() > 1 ? mine[1].top : nullptr;
    if (mine.size() > 1) {
        pending->insert(pending->begin(), std::make_move_iterator(mine.begin() + 1),
                        std::make_move_iterator(mine.end()));
        mine.resize(1);
    }
    return mine;
}

}  // namespace emu

// One message queue per thread, made when the thread first needs one, as on
// Windows. Any thread may post to any queue; only its thread takes from it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/emu/user32/user_types.h"

namespace emu {

// A message sent from another thread, carried over to the window's own.
struct SentMessage {
    MSG msg{};
    LRESULT result = 0;
    bool done = false;  // under the receiving queue's lock
};

class MessageQueue {
  public:
    // Hands `sent` to this queue's thread, which calls the window with it in
    // its next GetMessageW or PeekMessageW, and waits until it has, as
    // Windows' SendMessageW does: meanwhile messages sent to the waiting
    // thread are delivered too, so two threads sending to each other do
    // not block. False when the thread has ended.
    bool Send(const std::shared_ptr<SentMessage>& sent);
    // Calls the windows of the messages sent to this thread so far.
    void DeliverSent();
    // The thread has ended: what was sent to it, and what will be, fails.
    void Abandon();
    void Post(const MSG& msg);
    // Makes the next Take that finds no posted message return WM_QUIT.
    void PostQuit(int exitCode);
    // Forgets every posted message and the quit flag, as a new thread's queue.
    void Clear();
    // Waits for a posted message for `window` (null: any) in the range
    // [first, last] (0, 0: any), or WM_QUIT when the quit flag is up and
    // nothing else is waiting. Before each wait it calls `idle`, without the
    // queue's lock: that is when the user can act on what the screen shows.
    void Take(MSG* msg, HWND window, UINT first, UINT last, const std::function<void()>& idle);
    // Takes such a message if one waits (or copies it, when `remove` is
    // false); false at once when none does.
    bool TryTake(MSG* msg, HWND window, UINT first, UINT last, bool remove);

  private:
    bool TakeLocked(MSG* msg, HWND window, UINT first, UINT last);

    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<MSG> messages_;
    std::deque<std::shared_ptr<SentMessage>> sent_;
    std::condition_variable delivered_;
    bool abandoned_ = false;
    unsigned long changes_ = 0;  // counts posts, so a wait knows it missed none
    bool quit_ = false;
    int quitCode_ = 0;
};

// The calling thread's queue, made on first use.
MessageQueue& CurrentQueue();
// The queue of thread `threadId`, or null when that thread has none (or ended).
std::shared_ptr<MessageQueue> QueueOfThread(DWORD threadId);

}  // namespace emu

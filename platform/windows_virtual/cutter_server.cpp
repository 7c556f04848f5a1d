#include "platform/windows_virtual/cutter_server.h"

#include <mutex>
#include <vector>

#include "platform/unique_handle.h"
#include "platform/windows_virtual/virtual_bus.h"

namespace virtual_usb {
namespace {

constexpr DWORD kReadSize = 64 * 1024;
// How often an unplugged cutter looks whether it is back.
constexpr DWORD kPlugPollMs = 50;
// Bounds how long the first enumeration waits for the cutters to listen.
constexpr DWORD kStartTimeoutMs = 5000;

struct Listener {
    const CutterConfig* cutter;
    HANDLE listening;  // set when the first instance is listening; not owned
};

struct Connection {
    const CutterConfig* cutter;
    HANDLE server;  // owned
};

// Reads one connection until the program closes it or the cutter is
// unplugged, which breaks it at once.
DWORD WINAPI Serve(void* parameter) {
    const Connection connection = *static_cast<Connection*>(parameter);
    delete static_cast<Connection*>(parameter);
    const CutterConfig& cutter = *connection.cutter;
    platform::UniqueHandle server(connection.server);
    platform::UniqueHandle received;
    if (!cutter.receiveFile.empty()) {
        received.reset(CreateFileW(cutter.receiveFile.c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    platform::UniqueHandle readDone(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<char> buffer(kReadSize);
    while (readDone.valid()) {
        // A slow cutter: the program's write stays pending meanwhile.
        if (cutter.delayMs != 0 &&
            WaitForSingleObject(cutter.unplugEvent, cutter.delayMs) == WAIT_OBJECT_0) {
            break;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = readDone.get();
        if (!ReadFile(server.get(), buffer.data(), kReadSize, nullptr, &overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            break;  // ERROR_BROKEN_PIPE: the program closed its end
        }
        HANDLE events[] = {readDone.get(), cutter.unplugEvent};
        DWORD count = 0;
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CancelIo(server.get());
            GetOverlappedResult(server.get(), &overlapped, &count, TRUE);
            break;
        }
        if (!GetOverlappedResult(server.get(), &overlapped, &count, FALSE)) break;
        DWORD written = 0;
        if (received.valid() && count != 0) {
            WriteFile(received.get(), buffer.data(), count, &written, nullptr);
        }
    }
    // The program's end of the connection is broken from here on.
    DisconnectNamedPipe(server.get());
    return 0;
}

// No buffer either way: a write waits until the cutter has read it.
HANDLE NewInstance(const CutterConfig& cutter) {
    return CreateNamedPipeW(
        cutter.devicePath.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr);
}

// Keeps instances of the cutter's pipe listening while it is plugged in, and
// hands every connection to a thread of its own. A spare instance listens
// while the thread waits on another: the program may close a connection and
// open the next at once, before the thread has come round.
DWORD WINAPI Listen(void* parameter) {
    const Listener listener = *static_cast<Listener*>(parameter);
    delete static_cast<Listener*>(parameter);
    const CutterConfig& cutter = *listener.cutter;
    platform::UniqueHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!connected.valid()) return 1;
    HANDLE waiting = INVALID_HANDLE_VALUE;
    HANDLE spare = INVALID_HANDLE_VALUE;
    for (;;) {
        if (!Plugged(cutter)) {
            // Unplugged: nothing listens, so opening the path fails.
            if (waiting != INVALID_HANDLE_VALUE) CloseHandle(waiting);
            if (spare != INVALID_HANDLE_VALUE) CloseHandle(spare);
            waiting = spare = INVALID_HANDLE_VALUE;
            // Wakes at once when plugged in; unplug stays set, so poll then.
            if (Unplugged(cutter)) {
                Sleep(kPlugPollMs);
            } else {
                WaitForSingleObject(cutter.plugEvent, kPlugPollMs);
            }
            continue;
        }
        if (waiting == INVALID_HANDLE_VALUE) {
            waiting = spare;
            spare = INVALID_HANDLE_VALUE;
        }
        if (waiting == INVALID_HANDLE_VALUE) waiting = NewInstance(cutter);
        if (spare == INVALID_HANDLE_VALUE) spare = NewInstance(cutter);
        if (waiting == INVALID_HANDLE_VALUE) {
            Sleep(kPlugPollMs);
            continue;
        }
        // An instance exists: the cutter can be opened once listed.
        SetEvent(listener.listening);
        OVERLAPPED overlapped{};
        overlapped.hEvent = connected.get();
        ResetEvent(connected.get());
        bool ready = ConnectNamedPipe(waiting, &overlapped) != FALSE;
        if (!ready && GetLastError() == ERROR_IO_PENDING) {
            HANDLE events[] = {connected.get(), cutter.unplugEvent};
            DWORD ignored = 0;
            if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) {
                ready = GetOverlappedResult(waiting, &overlapped, &ignored, FALSE) != FALSE;
            } else {
                CancelIo(waiting);
                GetOverlappedResult(waiting, &overlapped, &ignored, TRUE);
                continue;  // unplugged: the instances go at the top
            }
        } else if (!ready) {
            ready = GetLastError() == ERROR_PIPE_CONNECTED;
        }
        HANDLE server = waiting;
        waiting = INVALID_HANDLE_VALUE;
        auto* connection = ready ? new Connection{&cutter, server} : nullptr;
        HANDLE thread = ready ? CreateThread(nullptr, 0, Serve, connection, 0, nullptr) : nullptr;
        if (thread == nullptr) {
            delete connection;
            CloseHandle(server);
            continue;
        }
        CloseHandle(thread);  // the connection's thread owns the server end
    }
}

}  // namespace

void StartCutters() {
    static std::once_flag once;
    std::call_once(once, [] {
        // A cutter listed must open at once: wait until those plugged in
        // listen. The events live as long as the threads, to the end.
        std::vector<HANDLE> waits;
        for (const CutterConfig& cutter : Cutters()) {
            HANDLE listening = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            if (listening == nullptr) continue;
            auto* listener = new Listener{&cutter, listening};
            HANDLE thread = CreateThread(nullptr, 0, Listen, listener, 0, nullptr);
            if (thread == nullptr) {
                delete listener;
                continue;
            }
            CloseHandle(thread);
            if (Plugged(cutter)) waits.push_back(listening);
        }
        for (HANDLE listening : waits) WaitForSingleObject(listening, kStartTimeoutMs);
    });
}

}  // namespace virtual_usb

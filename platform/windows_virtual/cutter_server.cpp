#include "platform/windows_virtual/cutter_server.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/unique_handle.h"
#include "platform/windows_virtual/busy_device.h"
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

// A stalled cutter reads nothing more: it waits until the cutter is
// unplugged or the program has given up its end of the connection.
void Stall(const CutterConfig& cutter, HANDLE server) {
    while (WaitForSingleObject(cutter.unplugEvent, kPlugPollMs) == WAIT_TIMEOUT) {
        if (!PeekNamedPipe(server, nullptr, 0, nullptr, nullptr, nullptr)) return;
    }
}

// Reads one connection until the program closes it or the cutter is
// unplugged, which breaks it at once.
void Serve(const CutterConfig& cutter, HANDLE server) {
    platform::UniqueHandle received;
    if (!cutter.receiveFile.empty()) {
        received.reset(CreateFileW(cutter.receiveFile.c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    platform::UniqueHandle readDone(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<char> buffer(kReadSize);
    DWORD taken = 0;
    while (readDone.valid()) {
        if (cutter.stallAfter != 0 && taken >= cutter.stallAfter) {
            Stall(cutter, server);
            break;
        }
        // A slow cutter: the program's write stays pending meanwhile.
        if (cutter.delayMs != 0 &&
            WaitForSingleObject(cutter.unplugEvent, cutter.delayMs) == WAIT_OBJECT_0) {
            break;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = readDone.get();
        // A stalling cutter takes no byte past its limit.
        const DWORD want =
            cutter.stallAfter != 0 ? std::min(kReadSize, cutter.stallAfter - taken) : kReadSize;
        if (!ReadFile(server, buffer.data(), want, nullptr, &overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            break;  // ERROR_BROKEN_PIPE: the program closed its end
        }
        HANDLE events[] = {readDone.get(), cutter.unplugEvent};
        DWORD count = 0;
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CancelIo(server);
            GetOverlappedResult(server, &overlapped, &count, TRUE);
            break;
        }
        if (!GetOverlappedResult(server, &overlapped, &count, FALSE)) break;
        taken += count;
        DWORD written = 0;
        if (received.valid() && count != 0) {
            WriteFile(received.get(), buffer.data(), count, &written, nullptr);
        }
    }
    // The program's end of the connection is broken from here on.
    DisconnectNamedPipe(server);
}

// One instance, no buffer either way: a write waits until the cutter has read
// it, and while a connection is open no other can be made, as a WinUSB device
// is open to one handle at a time. The first instance of the name: when
// another process serves the cutter already (one started with the same
// EMU_USB_BUS), this one leaves it to that process.
HANDLE NewInstance(const CutterConfig& cutter) {
    return CreateNamedPipeW(
        cutter.devicePath.c_str(),
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 0, 0,
        nullptr);
}

// Waits for the program to connect; false when the cutter was unplugged
// meanwhile or the pipe failed.
bool AwaitConnection(const CutterConfig& cutter, HANDLE instance, HANDLE connected) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = connected;
    ResetEvent(connected);
    if (ConnectNamedPipe(instance, &overlapped)) return true;
    if (GetLastError() == ERROR_PIPE_CONNECTED) return true;
    if (GetLastError() != ERROR_IO_PENDING) return false;
    HANDLE events[] = {connected, cutter.unplugEvent};
    DWORD ignored = 0;
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) {
        return GetOverlappedResult(instance, &overlapped, &ignored, FALSE) != FALSE;
    }
    CancelIo(instance);
    GetOverlappedResult(instance, &overlapped, &ignored, TRUE);
    return false;
}

// Keeps the cutter's one pipe instance while it is plugged in and serves its
// connections one after the other. The instance is reused, so the name never
// vanishes between connections: a program that closes and reopens at once
// finds it busy for a moment at most (see busy_device.h).
DWORD WINAPI Listen(void* parameter) {
    const Listener listener = *static_cast<Listener*>(parameter);
    delete static_cast<Listener*>(parameter);
    const CutterConfig& cutter = *listener.cutter;
    platform::UniqueHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!connected.valid()) return 1;
    platform::UniqueHandle instance;
    for (;;) {
        if (!Plugged(cutter)) {
            // Unplugged: nothing listens, so opening the path fails.
            instance.reset();
            // Wakes at once when plugged in; unplug stays set, so poll then.
            if (Unplugged(cutter)) {
                Sleep(kPlugPollMs);
            } else {
                WaitForSingleObject(cutter.plugEvent, kPlugPollMs);
            }
            continue;
        }
        if (!instance.valid()) instance.reset(NewInstance(cutter));
        // Listed from now on: served here, or by the process that has the name.
        SetEvent(listener.listening);
        if (!instance.valid()) {
            Sleep(kPlugPollMs);
            continue;
        }
        if (AwaitConnection(cutter, instance.get(), connected.get())) {
            Serve(cutter, instance.get());
        } else {
            DisconnectNamedPipe(instance.get());
        }
    }
}

}  // namespace

void StartCutters() {
    static std::once_flag once;
    std::call_once(once, [] {
        // A cutter listed must open at once: wait until those plugged in
        // listen. The events live as long as the threads, to the end.
        RouteBusyDevices();
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

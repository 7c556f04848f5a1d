// The WinUSB interface handles WinUsb_Initialize hands out over the bus's
// device files: a handle is the address of its entry, so a stale or
// foreign one is refused instead of followed.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/winusb/winusb_api.h"

namespace emu {

template <typename File>
class WinUsbInterfaces {
  public:
    // A new handle for `file`.
    WINUSB_INTERFACE_HANDLE Add(std::shared_ptr<File> file) {
        auto entry = std::make_unique<Entry>(Entry{std::move(file)});
        WINUSB_INTERFACE_HANDLE handle = entry.get();
        std::lock_guard<std::mutex> lock(mutex);
        live.emplace(handle, std::move(entry));
        return handle;
    }

    bool Contains(WINUSB_INTERFACE_HANDLE handle) {
        std::lock_guard<std::mutex> lock(mutex);
        return live.count(handle) != 0;
    }

    // The file of a live handle whose file is still open; null with
    // ERROR_INVALID_HANDLE otherwise.
    std::shared_ptr<File> FileOf(WINUSB_INTERFACE_HANDLE handle) {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = live.find(handle);
        if (it == live.end() || it->second->file->IsClosed()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        return it->second->file;
    }

    // Forgets the handle and gives back its file; null with
    // ERROR_INVALID_HANDLE when it is not a live handle.
    std::shared_ptr<File> Remove(WINUSB_INTERFACE_HANDLE handle) {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = live.find(handle);
        if (it == live.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        std::shared_ptr<File> file = std::move(it->second->file);
        live.erase(it);
        return file;
    }

  private:
    struct Entry {
        std::shared_ptr<File> file;
    };
    std::mutex mutex;
    std::unordered_map<WINUSB_INTERFACE_HANDLE, std::unique_ptr<Entry>> live;
};

}  // namespace emu

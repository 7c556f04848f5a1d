// The emulated kernel's object manager: every HANDLE the emulation gives out
// names a KernelObject in one process-wide table.
#pragma once

#include <memory>

#include "platform/emu/win_types.h"

namespace emu {

// Base of everything a HANDLE can name. Operations a kind of object does not
// support fail the way Windows fails them for the wrong kind of handle.
class KernelObject {
  public:
    virtual ~KernelObject();

    // Reads at most `size` bytes synchronously. Returns false with the error
    // code in `error`.
    virtual bool Read(void* buffer, DWORD size, DWORD* transferred, DWORD* error);
    // Writes `size` bytes synchronously; the same contract as Read.
    virtual bool Write(const void* buffer, DWORD size, DWORD* transferred, DWORD* error);
    // Ends the object at its current position, for SetEndOfFile.
    virtual bool Truncate(DWORD* error);
    // GetFileType's answer; objects that are not files are FILE_TYPE_UNKNOWN.
    virtual DWORD Type() const { return FILE_TYPE_UNKNOWN; }
    // For GetFileInformationByHandle.
    virtual bool Information(BY_HANDLE_FILE_INFORMATION* info, DWORD* error);
    // The object's size in bytes, for GetFileSize.
    virtual bool Size(std::uint64_t* size, DWORD* error);
    // Called once when the last handle to the object is closed; a false
    // result makes CloseHandle fail with `error`, the handle is gone all the same.
    virtual bool Close(DWORD* error);
    // Ends every request in flight on the object as aborted; false with
    // ERROR_NOT_FOUND when there was none (CancelIoEx).
    virtual bool CancelIo(DWORD* error);
    // Overlapped objects only: whether CreateIoCompletionPort may bind them.
    virtual bool IsOverlapped() const { return false; }
};

// Puts `object` into the table and returns its new handle. Handle values are
// never reused, so a stale handle stays invalid.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);

// The object `handle` names, or null (last error ERROR_INVALID_HANDLE).
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

template <typename T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Removes `handle` from the table; null when it names nothing.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

// Number of handles currently open, for leak checks in tests.
std::size_t OpenHandleCount();

}  // namespace emu

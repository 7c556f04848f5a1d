#include <cstring>
#include <unordered_map>

#include "platform/emu/faults.h"
#include "platform/emu/kernel32/kernel_api.h"

namespace {

// The system's own English texts, for every code this system can meet.
const char* SystemText(DWORD code) {
    static const std::unordered_map<DWORD, const char*> texts = {
        {0, "The operation completed successfully.\r\n"},
        {1, "Incorrect function.\r\n"},
        {2, "The system cannot find the file specified.\r\n"},
        {3, "The system cannot find the path specified.\r\n"},
        {4, "The system cannot open the file.\r\n"},
        {5, "Access is denied.\r\n"},
        {6, "The handle is invalid.\r\n"},
        {8, "Not enough memory resources are available to process this command.\r\n"},
        {13, "The data is invalid.\r\n"},
        {14, "Not enough memory resources are available to complete this operation.\r\n"},
        {21, "The device is not ready.\r\n"},
        {22, "The device does not recognize the command.\r\n"},
        {29, "The system cannot write to the specified device.\r\n"},
        {31, "A device attached to the system is not functioning.\r\n"},
        {32, "The process cannot access the file because it is being used by another process.\r\n"},
        {38, "Reached the end of the file.\r\n"},
        {50, "The request is not supported.\r\n"},
        {55, "The specified network resource or device is no longer available.\r\n"},
        {87, "The parameter is incorrect.\r\n"},
        {121, "The semaphore timeout period has expired.\r\n"},
        {122, "The data area passed to a system call is too small.\r\n"},
        {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
        {170, "The requested resource is in use.\r\n"},
        {206, "The filename or extension is too long.\r\n"},
        {234, "More data is available.\r\n"},
        {259, "No more data is available.\r\n"},
        {433, "A device which does not exist was specified.\r\n"},
        {995,
         "The I/O operation has been aborted because of either a thread exit or an "
         "application request.\r\n"},
        {996, "Overlapped I/O event is not in a signaled state.\r\n"},
        {997, "Overlapped I/O operation is in progress.\r\n"},
        {998, "Invalid access to memory location.\r\n"},
        {1117, "The request could not be performed because of an I/O device error.\r\n"},
        {1167, "The device is not connected.\r\n"},
        {1168, "Element not found.\r\n"},
        {1400, "Invalid window handle.\r\n"},
        {1407, "Cannot find window class.\r\n"},
        {1450, "Insufficient system resources exist to complete the requested service.\r\n"},
        {1460, "This operation returned because the timeout period expired.\r\n"},
        {1617, "The device has been removed.\r\n"},
        {1784, "The supplied user buffer is not valid for the requested operation.\r\n"},
        {10009, "The file handle supplied is not valid.\r\n"},
    };
    auto it = texts.find(code);
    return it == texts.end() ? nullptr : it->second;
}

}  // namespace

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPSTR buffer, DWORD size,
                            va_list*) {
    if (emu::InjectedFailure("FormatMessageA")) return 0;
    // Only system texts are emulated; the system asks for nothing else.
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char* text = SystemText(messageId);
    if (text == nullptr) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    const DWORD length = static_cast<DWORD>(std::strlen(text));
    if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        // `buffer` then really is a char** that receives a LocalAlloc block
        // of at least `size` bytes.
        const SIZE_T bytes = (length + 1 > size) ? length + 1 : size;
        auto* block = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, bytes));
        if (block == nullptr) return 0;
        std::memcpy(block, text, length + 1);
        *reinterpret_cast<char**>(buffer) = block;
        return length;
    }
    if (size < length + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text, length + 1);
    return length;
}

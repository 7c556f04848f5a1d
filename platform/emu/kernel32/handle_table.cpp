#include "platform/emu/kernel32/handle_table.h"

#include <mutex>
#include <unordered_map>

#include "platform/emu/kernel32/kernel_api.h"

namespace emu {
namespace {

struct Table {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    // Windows hands out multiples of 4; starting high keeps them clear of
    // small integers that a bug might pass as a handle.
    std::uintptr_t next = 0x1000;
};

Table& TheTable() {
    static Table* table = new Table;  // outlives every static that closes handles at exit
    return *table;
}

}  // namespace

KernelObject::~KernelObject() = default;

bool KernelObject::Read(void*, DWORD, DWORD*, DWORD* error) {
    *error = ERROR_INVALID_FUNCTION;
    return false;
}

bool KernelObject::Write(const void*, DWORD, DWORD*, DWORD* error) {
    *error = ERROR_INVALID_FUNCTION;
    return false;
}

bool KernelObject::Truncate(DWORD* error) {
    *error = ERROR_INVALID_FUNCTION;
    return false;
}

bool KernelObject::Information(BY_HANDLE_FILE_INFORMATION*, DWORD* error) {
    *error = ERROR_INVALID_FUNCTION;
    return false;
}

bool KernelObject::Size(std::uint64_t*, DWORD* error) {
    *error = ERROR_INVALID_FUNCTION;
    return false;
}

bool KernelObject::Close(DWORD*) {
    return true;
}

bool KernelObject::CancelIo(DWORD* error) {
    *error = ERROR_NOT_FOUND;
    return false;
}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    std::uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == table.objects.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == table.objects.end()) return nullptr;
    std::shared_ptr<KernelObject> object = std::move(it->second);
    table.objects.erase(it);
    return object;
}

std::size_t OpenHandleCount() {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.objects.size();
}

}  // namespace emu

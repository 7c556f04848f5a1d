#include "platform/emu/user32/window_table.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "platform/emu/user32/desktop_control.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/user32/message_queue.h"

namespace emu {
namespace {

struct Entry {
    WindowData data;
    std::shared_ptr<WindowKind> kind;
};

struct Table {
    std::mutex mutex;
    std::unordered_map<HWND, Entry> windows;
    std::uintptr_t next = 0x10010;

    Entry* Find(HWND window) {
        auto it = windows.find(window);
        return it == windows.end() ? nullptr : &it->second;
    }
};

Table& TheTable() {
    static Table* table = new Table;  // windows may be touched during exit
    return *table;
}

}  // namespace

WindowKind::~WindowKind() = default;

LRESULT WindowKind::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefaultHandling(window, message, wParam, lParam);
}

void WindowKind::Describe(ControlView*) const {}

HWND InsertWindow(const NewWindow& window, std::shared_ptr<WindowKind> kind) {
    CurrentQueue();  // a thread with a window has a queue, so posts to it arrive
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    HWND handle = reinterpret_cast<HWND>(table.next);
    table.next += 4;
    Entry entry;
    entry.data.handle = handle;
    entry.data.thread = GetCurrentThreadId();
    entry.data.parent = window.parent;
    entry.data.className = window.className;
    entry.data.text = window.text;
    entry.data.style = window.style;
    entry.data.exStyle = window.exStyle;
    entry.data.id = window.id;
    entry.data.rect = window.rect;
    entry.data.templateId = window.templateId;
    entry.kind = std::move(kind);
    if ((window.style & WS_CHILD) != 0) {
        if (Entry* parent = table.Find(window.parent)) parent->data.children.push_back(handle);
    }
    table.windows.emplace(handle, std::move(entry));
    return handle;
}

void RemoveWindow(HWND window) {
    Table& table = TheTable();
    std::shared_ptr<WindowKind> kind;  // released after the lock
    std::lock_guard<std::mutex> lock(table.mutex);
    Entry* entry = table.Find(window);
    if (entry == nullptr) return;
    kind = std::move(entry->kind);
    if (Entry* parent = table.Find(entry->data.parent)) {
        auto& siblings = parent->data.children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
    }
    table.windows.erase(window);
}

bool WindowExists(HWND window) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    return window == DesktopWindow() || table.Find(window) != nullptr;
}

bool ReadWindow(HWND window, WindowData* data) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    Entry* entry = table.Find(window);
    if (entry == nullptr) return false;
    *data = entry->data;
    return true;
}

bool UpdateWindow(HWND window, const std::function<void(WindowData&)>& change) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    Entry* entry = table.Find(window);
    if (entry == nullptr) return false;
    change(entry->data);
    return true;
}

std::shared_ptr<WindowKind> KindOf(HWND window) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    Entry* entry = table.Find(window);
    return entry == nullptr ? nullptr : entry->kind;
}

LRESULT CallWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<WindowKind> kind = KindOf(window);  // alive through the call
    return kind == nullptr ? 0 : kind->Handle(window, message, wParam, lParam);
}

bool IsSelfOrDescendant(HWND ancestor, HWND window) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (Entry* entry = table.Find(window); entry != nullptr;) {
        if (entry->data.handle == ancestor) return true;
        if ((entry->data.style & WS_CHILD) == 0) return false;
        entry = table.Find(entry->data.parent);
    }
    return false;
}

HWND TopLevelOf(HWND window) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    Entry* entry = table.Find(window);
    while (entry != nullptr && (entry->data.style & WS_CHILD) != 0) {
        Entry* parent = table.Find(entry->data.parent);
        if (parent == nullptr) break;
        entry = parent;
    }
    return entry == nullptr ? nullptr : entry->data.handle;
}

namespace {

void CollectBelow(Table& table, HWND ancestor, std::vector<HWND>* out) {
    Entry* entry = table.Find(ancestor);
    if (entry == nullptr) return;
    for (HWND child : entry->data.children) {
        out->push_back(child);
        CollectBelow(table, child, out);
    }
}

}  // namespace

std::vector<HWND> Descendants(HWND ancestor) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    std::vector<HWND> out;
    CollectBelow(table, ancestor, &out);
    return out;
}

HWND FindDescendant(HWND ancestor, int id) {
    for (HWND window : Descendants(ancestor)) {
        WindowData data;
        if (ReadWindow(window, &data) && data.id == id) return window;
    }
    return nullptr;
}

std::size_t LiveWindowCount() {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.windows.size();
}

HWND DesktopWindow() {
    // A handle outside the table's range: it names the screen, which no
    // thread owns and nobody can destroy.
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x10004));
}

}  // namespace emu

#include "tests/wine/watched_progress.h"

#include <algorithm>

#include "tests/wine/dialog_windows.h"

using dialog_windows::Narrow;

ProgressWatch::ProgressWatch() {
    mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                 sizeof(ProgressRecord), kProgressRecordName);
    if (mapping == nullptr) return;
    record = static_cast<ProgressRecord*>(
        MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(ProgressRecord)));
    // A program hooked by an earlier look may still hold the record.
    if (record != nullptr) ZeroMemory(record, sizeof(ProgressRecord));
}

ProgressWatch::~ProgressWatch() {
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    if (module != nullptr) FreeLibrary(module);
    if (record != nullptr) UnmapViewOfFile(record);
    if (mapping != nullptr) CloseHandle(mapping);
}

// The DLL lies beside the running program.
std::string ProgressWatch::Hook(DWORD thread) {
    if (record == nullptr) return "cannot share memory with progress_watch.dll";
    WCHAR path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dll(path);
    dll = dll.substr(0, dll.find_last_of(L'\\') + 1) + L"progress_watch.dll";
    module = LoadLibraryW(dll.c_str());
    if (module == nullptr) return "cannot load " + Narrow(dll);
    auto proc = reinterpret_cast<HOOKPROC>(
        reinterpret_cast<void*>(GetProcAddress(module, "WatchProgress")));
    hook = proc != nullptr ? SetWindowsHookExW(WH_CALLWNDPROCRET, proc, module, thread) : nullptr;
    if (hook == nullptr) {
        return "cannot hook the program's thread (" + std::to_string(GetLastError()) + ")";
    }
    return "";
}

std::string ProgressWatch::HookProcess(DWORD process) {
    if (record != nullptr) record->process = static_cast<LONG>(process);
    return Hook(0);
}

std::vector<LONG> ProgressWatch::Positions() const {
    if (record == nullptr) return {};
    const LONG count = std::min<LONG>(LONG{record->count}, kMaxPositions);
    return std::vector<LONG>(record->positions, record->positions + count);
}

long ProgressWatch::Highest() const {
    const std::vector<LONG> positions = Positions();
    return positions.empty() ? -1 : *std::max_element(positions.begin(), positions.end());
}

HWND ProgressWatch::Dialog() const {
    return Shown() ? static_cast<HWND>(LongToHandle(record->dialog)) : nullptr;
}

std::string ProgressWatch::Title() const {
    return Shown() ? Narrow(record->title) : "";
}

std::string ProgressWatch::Text() const {
    return Shown() ? Narrow(record->text) : "";
}

void ProgressWatch::HoldAt(const std::vector<long>& positions) {
    if (record == nullptr) return;
    const std::size_t count = std::min<std::size_t>(positions.size(), kMaxHolds);
    std::copy(positions.begin(), positions.begin() + static_cast<std::ptrdiff_t>(count),
              record->holds);
    record->holdCount = static_cast<LONG>(count);
}

void ProgressWatch::Release() {
    if (record != nullptr) InterlockedExchange(&record->released, record->held);
}

std::vector<ProgressWatch::Box> ProgressWatch::Boxes() const {
    std::vector<Box> boxes;
    if (record == nullptr) return boxes;
    const LONG count = std::min<LONG>(LONG{record->boxCount}, kMaxBoxes);
    for (LONG i = 0; i < count; ++i) {
        const BoxRecord& box = record->boxes[i];
        boxes.push_back(
            {static_cast<HWND>(LongToHandle(box.window)), Narrow(box.text), Narrow(box.caption)});
    }
    return boxes;
}

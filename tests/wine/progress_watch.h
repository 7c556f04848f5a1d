// The memory that dialog_probe shares with progress_watch.dll.
#pragma once

#include "platform/win32.h"

constexpr const wchar_t* kProgressRecordName = L"Local\\bladepost-progress-watch";
constexpr LONG kMaxPositions = 1000;

struct ProgressRecord {
    volatile LONG count;  // positions written so far
    LONG positions[kMaxPositions];
};

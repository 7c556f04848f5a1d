// The memory that dialog_probe and scenario_runner share with
// progress_watch.dll.
#pragma once

#include "platform/win32.h"

constexpr const wchar_t* kProgressRecordName = L"Local\\bladepost-progress-watch";
constexpr LONG kMaxPositions = 1000;
constexpr int kMaxDialogText = 256;
constexpr LONG kMaxBoxes = 8;
constexpr LONG kMaxHolds = 8;
// A hold ends by itself after this, should the runner have gone.
constexpr DWORD kHoldLimitMs = 60000;
// The static that holds a message box's text.
constexpr int kMessageBoxTextId = 0xFFFF;

struct BoxRecord {
    LONG window;  // fits in 32 bits for both bitnesses
    WCHAR caption[kMaxDialogText];
    WCHAR text[kMaxDialogText];
};

struct ProgressRecord {
    // The process watched, where every thread is hooked; 0: only the thread
    // hooked is.
    LONG process;
    volatile LONG count;  // positions written so far
    LONG positions[kMaxPositions];
    // What the progress dialog showed when last seen: a fast transfer may
    // close it before another process gets to look. `shown` is set once the
    // texts are in place.
    volatile LONG shown;
    LONG dialog;  // its window handle, which fits in 32 bits for both bitnesses
    WCHAR title[kMaxDialogText];
    WCHAR text[kMaxDialogText];  // its first static text that says something
    // Every message box the hooked thread made, as it was made: one that
    // closes by itself at once is still seen.
    volatile LONG boxCount;
    BoxRecord boxes[kMaxBoxes];
    // Positions the runner must act at, in order (`holds`, set before the
    // program starts). The hooked thread stops in the call that took the
    // bar there, as a person would need the program to, until the runner
    // has acted: `held` counts the holds reached, `released` those let go.
    LONG holdCount;
    LONG holds[kMaxHolds];
    volatile LONG held;
    volatile LONG released;
};

// A static text measured on the program's own thread: a font handle is only
// good in the process that made it, so the probe cannot select the dialog's
// font into a DC of its own. The probe sends the control kMeasureTextMessage
// and reads the answer here once the call returns.
constexpr const wchar_t* kTextFitRecordName = L"Local\\bladepost-text-fit";
constexpr const wchar_t* kMeasureTextMessage = L"bladepost-measure-text";

struct TextFitRecord {
    volatile LONG done;       // set last, once the fields below are in place
    LONG measured;            // the control's font was selected and the text measured
    LONG extent;              // the text's width in that font, pixels
    LONG width;               // the control's client width, pixels
    WCHAR face[LF_FACESIZE];  // the font the DC measured with
};

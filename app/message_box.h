// The way the front end tells the user of a failure.
#pragma once

#include <string>

// A warning box captioned "bladepost", without an owner window, on the
// calling thread; returns when the user has closed it.
void ShowWarning(const std::string& text);

// What the user is told of a failure that carries no text of its own.
extern const char kUnknownFailure[];

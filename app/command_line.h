// The file named on the command line.
#pragma once

#include "platform/win32.h"

// Copies the file the command line names into `fileName`: the command line
// verbatim, except that one pair of quotes around all of it is taken off, as
// Windows adds them to a path it hands over ("Open with", a file dropped on
// the program). False, after telling the user, when the name cannot be a path.
bool TakeCommandLine(const WCHAR* commandLine, WCHAR (&fileName)[MAX_PATH]);

// Identifiers of the program's resources, shared by the resource script, the
// code and the Linux emulation's copy of the templates. Plain #defines only:
// windres reads this file through its preprocessor.
#pragma once

#define IDD_OUTPUT_SELECT 101
#define IDD_PROGRESS 102

#define IDC_OUTPUT 1000
#define IDC_REFRESH 1003
#define IDC_PROGRESS 1004

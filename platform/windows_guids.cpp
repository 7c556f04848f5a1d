// The one definition of the Windows GUIDs the system uses.
#include <initguid.h>

#include "platform/win32.h"

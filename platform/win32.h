// The system services the installer uses, called by their own names in their ANSI forms: on Windows
// the real ones from kernel32, user32 and advapi32; on the host a stand-in with the same declarations.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include "host/win32_standin.h"
#endif

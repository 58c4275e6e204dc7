// win32/DebugOutput.cpp - Windows side of platform/DebugOutput.h: not written yet.
//
// Missing: debugger output (OutputDebugStringW when a debugger listens) and the system
// message texts (FormatMessageW). Until this file implements every function the header
// declares, a Windows build compiles it but does not link; the POSIX side is
// posix/DebugOutput.cpp.
#include "platform/DebugOutput.h"

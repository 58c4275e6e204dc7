// win32/EventTrace.cpp - Windows side of platform/EventTrace.h: not written yet.
//
// Missing: the event-trace provider (RegisterTraceGuidsW, TraceEvent and their companions)
// and the controller that a trace consumer uses. Until this file implements every function
// the header declares, a Windows build compiles it but does not link; the POSIX side is
// posix/EventTrace.cpp.
#include "platform/EventTrace.h"

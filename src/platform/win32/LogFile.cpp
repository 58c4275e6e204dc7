// win32/LogFile.cpp - Windows side of platform/LogFile.h: not written yet.
//
// Missing: log file sizes and appends, folder trees, and the paths of loaded images
// (GetModuleFileNameW). Until this file implements every function the header declares, a
// Windows build compiles it but does not link; the POSIX side is posix/LogFile.cpp.
#include "platform/LogFile.h"

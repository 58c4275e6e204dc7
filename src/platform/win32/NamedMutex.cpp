// win32/NamedMutex.cpp - Windows side of platform/NamedMutex.h: not written yet.
//
// Missing: the named mutex (CreateMutexW with a Global\\ or Local\\ name,
// WaitForSingleObject). Until this file implements every function the header declares, a
// Windows build compiles it but does not link; the POSIX side is posix/NamedMutex.cpp.
#include "platform/NamedMutex.h"

// Prefix.h - the root folder that stands for Windows' system folders.
//
// POSIX has no folders of Windows' shape, so one root folder holds the registry store and
// the known folders (ProgramData/, ProgramFiles/, ...): $GLIMMERPANE_PREFIX when set and
// not empty, else /var/lib/glimmerpane for root and ${XDG_DATA_HOME:-$HOME/.local/share}/glimmerpane
// for other users. Windows: the folder of the system registry has no file path; there the
// prefix is %ProgramData%\Glimmerpane and is used only by our own files.
//
// The environment is read on every call (cheap), so a process that sets GLIMMERPANE_PREFIX
// before its first use of the prefix gets it. Nothing is created here.
#pragma once

#include <string>

namespace glimmerpane::platform {

// The prefix folder, absolute, ending in the platform separator ("/" or "\").
std::wstring PrefixFolder();

// PrefixFolder() + relative, with "/" and "\" in relative turned into the platform
// separator ("registry" -> "/home/u/.local/share/glimmerpane/registry").
std::wstring PrefixPath(const std::wstring& relative);

// The platform's file path separator.
wchar_t PathSeparator();

}  // namespace glimmerpane::platform

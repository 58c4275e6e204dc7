// PathAPI.cpp - file tests through the platform layer.
#include "wrappers/PathAPI.h"

#include "platform/FileSystem.h"

namespace Vornik {

bool PathAPI::fileExists(const std::wstring& path) { return glimmerpane::platform::IsExistingFile(path); }

}  // namespace Vornik

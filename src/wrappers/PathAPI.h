// PathAPI.h - the file-system wrapper the path search asks; tests inject fakes through it.
#pragma once

#include <string>

namespace Vornik {

class PathAPI {
public:
    virtual ~PathAPI() = default;
    // True when path is not empty, its attributes can be read and it is not a directory.
    virtual bool fileExists(const std::wstring& path);
};

}  // namespace Vornik

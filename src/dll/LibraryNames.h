// LibraryNames.h - the file names of the framework's libraries, in one place.
//
// Names are kept as base names; the platform's file name adds the one library suffix of
// the build (".dll" on Windows, ".so" on POSIX), so the same code and tests run on both.
#pragma once

#include <string>
#include <vector>

namespace Vornik {

// "BusBroker.dll" / "BusBroker.so": the message bus library.
std::wstring BusLibraryFileName();

// The framework libraries that the block list never refuses, lower-cased file names
// ("sysprobe", "cfgkeeper", "modhost", "busbroker" with the platform suffix).
const std::vector<std::wstring>& BlockListExemptNames();

}  // namespace Vornik

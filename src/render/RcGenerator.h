// RcGenerator.h - the C source of a resource library's string table.
//
// The source defines the table of include/glimmerpane/resource_table.h (GP_STRING_TABLE_SYMBOL)
// with every language of the script in its order and every string as a UTF-32 array, so a
// C compiler turns it into the shared library that the resource loader reads. The output
// depends only on the script: the same script gives the same bytes.
#pragma once

#include <string>

#include "render/RcScript.h"

namespace glimmerpane::resources {

// C source of a shared library exporting the script's string table.
std::string generateStringTableSource(const RcScript& script);

}  // namespace glimmerpane::resources

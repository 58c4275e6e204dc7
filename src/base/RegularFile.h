// RegularFile.h - reads a whole file that must be a regular file of bounded size.
//
// Input files of the tools (resource scripts, registry files) may be named by anyone: a
// folder, a FIFO or a device must be refused before anything reads from it, so that
// nothing blocks or reads for ever, and the size is bounded while reading, since the file
// may grow under us.
#pragma once

#include <cstddef>
#include <string>

namespace glimmerpane::base {

enum class FileReadResult { Read, CannotOpen, Folder, NotRegularFile, TooLarge };

// Reads path into bytes when it is a regular file of at most limit bytes. Never throws
// for I/O; bytes holds what was read only on Read.
FileReadResult ReadRegularFile(const std::string& path, size_t limit, std::string& bytes);

}  // namespace glimmerpane::base

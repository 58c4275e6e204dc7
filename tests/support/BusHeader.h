// BusHeader.h - the message header a test publishes with, as the module fills one in
// (marker set, header version 2, the framework's extension numbers).
#pragma once

#include <glimmerpane/abi.h>

namespace gptest {

inline MessageHeader NewBusHeader() {
    MessageHeader header{};
    header.marker = 1;
    header.headerVersion = 2;
    header.ext1 = 11;
    header.ext2 = 8;
    return header;
}

}  // namespace gptest

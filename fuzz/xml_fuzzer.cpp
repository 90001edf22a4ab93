// libFuzzer entry: arbitrary bytes through the whole document road.
#include <cstddef>
#include <cstdint>

#include "fuzz/road.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkDocumentRoad(data, size);
    return 0;
}

// The whole in-memory road of one document (parse, both lookups, both
// rules, the writer into memory) with the invariants that must hold for
// any input bytes. Shared by the fuzz target and the replay test.
#ifndef QOR_FUZZ_ROAD_H
#define QOR_FUZZ_ROAD_H

#include <cstddef>
#include <cstdint>
#include <string>

// Runs the road on the bytes and returns a description of the first broken
// invariant, or an empty string when all of them hold.
std::string findRoadFault(const std::uint8_t* data, std::size_t size);

// Runs the road and, when an invariant breaks, prints why to stderr and
// aborts, so a fuzzer records the input as a crash.
void checkDocumentRoad(const std::uint8_t* data, std::size_t size);

#endif

// The seams through which tests watch and steer a run of the host layer:
// what happens before each step of writing the output, and where new
// names come from. Nothing in a normal run sets them.
#ifndef SWFUPGRADE_HOST_SEAM_H
#define SWFUPGRADE_HOST_SEAM_H

#include <cstdint>

namespace host {

class clInputFile;
class clOutputFile;

// The steps of a run after its paths are resolved, in order. For tests:
// when set, beforeStep is called with the step and the open file it
// concerns just before each, so a test can see their order or meddle at
// the worst moment: the input just read, the new file for the next three,
// and for the last whatever is synced to make the rename durable (the
// directory, or the new file where the directory cannot be read).
// Windows has no STEP_SYNC_DIRECTORY: its move is written through,
// directory and all, before it returns.
enum enStep { STEP_INPUT_READ, STEP_SET_ATTRIBUTES, STEP_SYNC_DATA, STEP_RENAME, STEP_SYNC_DIRECTORY };
// The open file a step concerns: a descriptor on Linux, a HANDLE on Windows.
#ifdef _WIN32
using tyStepFile = void*;
#else
using tyStepFile = int;
#endif
extern void (*beforeStep)(enStep step, tyStepFile file);

// Calls beforeStep, when set, with the open input or output file.
void announce(enStep step, const clInputFile& input);
void announce(enStep step, const clOutputFile& output);

// Where the random part of a new file's name comes from; tests set it to
// choose the names a run will try.
extern std::uint64_t (*drawRandom)();

}  // namespace host

#endif

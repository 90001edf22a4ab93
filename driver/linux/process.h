// What the Linux host notes about its process when it starts.
#ifndef SWFUPGRADE_LINUX_PROCESS_H
#define SWFUPGRADE_LINUX_PROCESS_H

#include <sys/types.h>

namespace host {

// The mask new files are created with, as prepareProcess read it (022
// before it is called).
mode_t creationMask();

}  // namespace host

#endif

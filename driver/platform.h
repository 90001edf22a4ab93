// What differs between the hosts the tool runs on, kept in one place.
#ifndef SWFUPGRADE_PLATFORM_H
#define SWFUPGRADE_PLATFORM_H

// Makes a write past a file-size limit fail with an error the tool can
// report and clean up after, instead of a signal that kills the process.
void prepareProcess();

#endif

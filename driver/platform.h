// What differs between the hosts the tool runs on, kept in one place.
#ifndef SWFUPGRADE_PLATFORM_H
#define SWFUPGRADE_PLATFORM_H

#include <string>

// Makes a write past a file-size limit fail with an error the tool can
// report and clean up after, instead of a signal that kills the process.
void prepareProcess();

// Gives the file at target the owner and group of the file at source, where
// the host has them and allows it; a refusal leaves target as it is.
void copyOwner(const std::string& source, const std::string& target);

#endif

// Ctrl-C, Ctrl-Break and closing the console, kept from leaving a new
// output file behind. Their events come on a thread of their own.
#ifndef SWFUPGRADE_WINDOWS_CONSOLE_EVENTS_H
#define SWFUPGRADE_WINDOWS_CONSOLE_EVENTS_H

#include "driver/windows/open_files.h"

namespace host {

// From now on the console's events end the run as they would have, but
// first remove the file recorded by removeOnConsoleEvent.
void catchConsoleEvents();

// The file a console event removes; none when handle is null.
void removeOnConsoleEvent(HANDLE handle);

// Removes the file open at handle, whatever its name now and even when it
// is read-only. Safe from the console's event thread.
void removeOpenFile(HANDLE handle);

// Moves the file at from over to, apart from any removal by a console
// event; once it moved, an event removes nothing. False when it did not
// move, with the host's error in error.
bool moveRecordedFile(const std::wstring& from, const std::wstring& to, DWORD& error);

}  // namespace host

#endif

#include "driver/windows/console_events.h"

namespace host {

namespace {

// The temporary file of this run while it exists, for the console's
// events. The lock keeps the move in place and the removal apart, and an
// event holds it until the process ends.
SRWLOCK temporaryLock = SRWLOCK_INIT;
HANDLE temporaryFile = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    AcquireSRWLockExclusive(&temporaryLock);
    if (temporaryFile) removeOpenFile(temporaryFile);
    return FALSE;  // the host's own handler ends the process
}

}  // namespace

void catchConsoleEvents() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

void removeOnConsoleEvent(HANDLE handle) {
    AcquireSRWLockExclusive(&temporaryLock);
    temporaryFile = handle;
    ReleaseSRWLockExclusive(&temporaryLock);
}

void removeOpenFile(HANDLE handle) {
    FILE_DISPOSITION_INFO removal = {TRUE};
    if (SetFileInformationByHandle(handle, FileDispositionInfo, &removal, sizeof removal)) return;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) return;
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic)) {
        SetFileInformationByHandle(handle, FileDispositionInfo, &removal, sizeof removal);
    }
}

bool moveRecordedFile(const std::wstring& from, const std::wstring& to, DWORD& error) {
    AcquireSRWLockExclusive(&temporaryLock);
    // Written through, the move is on disk when it returns, directory and all.
    const bool moved = MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    error = GetLastError();
    if (moved) temporaryFile = nullptr;
    ReleaseSRWLockExclusive(&temporaryLock);
    return moved;
}

}  // namespace host

// What the Windows host's files share: names between UTF-8 and the host's
// UTF-16, and the identity of open files.
#ifndef SWFUPGRADE_WINDOWS_OPEN_FILES_H
#define SWFUPGRADE_WINDOWS_OPEN_FILES_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "driver/host.h"

namespace host {

// Others may rename or remove a file while it is open here, as this run will.
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring widened(const std::string& text);
std::string narrowed(const std::wstring& wide);

clFileId identityOf(HANDLE handle);
// The identity of what stands at path now, links followed.
clFileId identityAt(const std::wstring& path);

}  // namespace host

#endif

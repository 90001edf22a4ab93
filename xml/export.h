// QOR_API marks what the shared library exports. The library is built with
// hidden visibility, so all else stays inside it and may change freely.
#ifndef QOR_UTILITY_EXPORT_H
#define QOR_UTILITY_EXPORT_H

// On Windows the build makes the static library alone (CMakeLists.txt
// makes no DLL there), so no import or export mark is needed.
#if defined(__GNUC__) && !defined(_WIN32)
#define QOR_API __attribute__((visibility("default")))
#else
#define QOR_API
#endif

#endif

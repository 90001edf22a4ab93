// QOR_API marks what the shared library exports. The library is built with
// hidden visibility, so all else stays inside it and may change freely.
#ifndef QOR_UTILITY_EXPORT_H
#define QOR_UTILITY_EXPORT_H

// Windows builds are static only: no import or export is needed there.
#if defined(__GNUC__) && !defined(_WIN32)
#define QOR_API __attribute__((visibility("default")))
#else
#define QOR_API
#endif

#endif

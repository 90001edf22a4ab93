#include "driver/platform.h"

#ifdef _WIN32

void prepareProcess() {}

#else

#include <csignal>

void prepareProcess() { std::signal(SIGXFSZ, SIG_IGN); }

#endif

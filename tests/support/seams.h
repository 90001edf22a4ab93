// The host's test seams set for as long as a guard lives, and always set
// back when it goes: a failed ASSERT cannot leave a hook to later tests.
#ifndef QOR_TESTS_SEAMS_H
#define QOR_TESTS_SEAMS_H

#include <functional>
#include <utility>

#include "driver/host_seam.h"

namespace qor_test {

// host::beforeStep, calling any callable, captures and all.
class StepHook {
public:
    using tyHook = std::function<void(host::enStep step, host::tyStepFile file)>;
    explicit StepHook(tyHook hook) {
        current() = std::move(hook);
        host::beforeStep = [](host::enStep step, host::tyStepFile file) { current()(step, file); };
    }
    ~StepHook() {
        host::beforeStep = nullptr;
        current() = nullptr;
    }
    StepHook(const StepHook&) = delete;
    StepHook& operator=(const StepHook&) = delete;

private:
    static tyHook& current() {
        static tyHook hook;
        return hook;
    }
};

// host::drawRandom, the host's own given back after.
class RandomDraws {
public:
    explicit RandomDraws(std::uint64_t (*draw)()) : hostsOwn(host::drawRandom) { host::drawRandom = draw; }
    ~RandomDraws() { host::drawRandom = hostsOwn; }
    RandomDraws(const RandomDraws&) = delete;
    RandomDraws& operator=(const RandomDraws&) = delete;

private:
    std::uint64_t (*const hostsOwn)();
};

}  // namespace qor_test

#endif

#include "driver/background_writer.h"

#include <system_error>
#include <utility>

namespace {

constexpr std::size_t blockSize = std::size_t(256) << 10;
constexpr std::size_t queueDepth = 4;  // bounds the memory held to a few blocks

}  // namespace

clBackgroundWriter::clBackgroundWriter(std::streambuf& target) : target(target) {
    filling.resize(blockSize);
    setp(&filling[0], &filling[0] + filling.size());
    try {
        writer = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread to spare: each block is stored as it fills instead.
    }
}

clBackgroundWriter::~clBackgroundWriter() {
    finish();
    if (!writer.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    changed.notify_all();
    writer.join();
}

bool clBackgroundWriter::handOver() {
    if (!writer.joinable()) {
        const std::streamsize size = pptr() - pbase();
        failed = failed || target.sputn(pbase(), size) != size;
        setp(&filling[0], &filling[0] + filling.size());
        return !failed;
    }
    std::string block;
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [this] { return queued.size() < queueDepth || failed; });
        if (failed) return false;
        filling.resize(static_cast<std::size_t>(pptr() - pbase()));
        queued.push_back(std::move(filling));
        if (!spare.empty()) {
            block = std::move(spare.back());
            spare.pop_back();
        }
    }
    changed.notify_all();
    filling = std::move(block);
    filling.resize(blockSize);
    setp(&filling[0], &filling[0] + filling.size());
    return true;
}

clBackgroundWriter::int_type clBackgroundWriter::overflow(int_type c) {
    if (!handOver()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

int clBackgroundWriter::sync() { return finish() && target.pubsync() == 0 ? 0 : -1; }

bool clBackgroundWriter::finish() {
    if (pptr() != pbase() && !handOver()) return false;
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [this] { return (queued.empty() && !writing) || failed; });
    return !failed;
}

void clBackgroundWriter::run() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        changed.wait(guard, [this] { return !queued.empty() || stopping; });
        if (queued.empty()) return;  // stopping, and nothing is left
        std::string block = std::move(queued.front());
        queued.pop_front();
        writing = true;
        guard.unlock();
        const auto size = static_cast<std::streamsize>(block.size());
        bool stored = false;
        try {
            stored = target.sputn(block.data(), size) == size;
        } catch (...) {
            // A target that throws has stored nothing to count on.
        }
        guard.lock();
        writing = false;
        if (!stored) {
            failed = true;
            queued.clear();
        }
        spare.push_back(std::move(block));
        changed.notify_all();
    }
}

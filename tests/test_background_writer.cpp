#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "driver/background_writer.h"

namespace {

// Takes bytes until it holds capacity of them, then takes blocks short.
class clLimitedBuffer : public std::streambuf {
public:
    explicit clLimitedBuffer(std::size_t capacity) : capacity(capacity) {}
    std::string held;

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        const std::size_t room = capacity - held.size();
        const std::size_t taken = static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room;
        held.append(s, taken);
        return static_cast<std::streamsize>(taken);
    }

private:
    std::size_t capacity;
};

std::string numberedLines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

}  // namespace

TEST(BackgroundWriter, PassesEveryByteOnInOrder) {
    // Enough to fill several blocks and wrap the queue, in small and large writes.
    const std::string text = numberedLines(400000);
    std::stringbuf target;
    {
        clBackgroundWriter store(target);
        std::ostream out(&store);
        const std::size_t half = text.size() / 2;
        for (std::size_t i = 0; i < half; i += 7) out.write(text.data() + i, std::min<std::size_t>(7, half - i));
        out.write(text.data() + half, static_cast<std::streamsize>(text.size() - half));
        ASSERT_TRUE(out);
        EXPECT_TRUE(store.finish());
        EXPECT_EQ(target.str(), text);
        out << "tail";
    }
    EXPECT_EQ(target.str(), text + "tail");  // the destructor finishes too
}

TEST(BackgroundWriter, AShortWriteFailsTheRest) {
    const std::string text = numberedLines(600000);
    clLimitedBuffer target(3 << 20);
    clBackgroundWriter store(target);
    std::ostream out(&store);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    EXPECT_FALSE(store.finish());
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    EXPECT_FALSE(out);
    EXPECT_EQ(target.held, text.substr(0, 3 << 20));
}

TEST(BackgroundWriter, NothingWrittenFinishesAtOnce) {
    std::stringbuf target;
    clBackgroundWriter store(target);
    EXPECT_TRUE(store.finish());
    EXPECT_TRUE(target.str().empty());
}

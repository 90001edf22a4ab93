// A stream buffer that stores its bytes from a second thread.
#ifndef SWFUPGRADE_BACKGROUND_WRITER_H
#define SWFUPGRADE_BACKGROUND_WRITER_H

#include <condition_variable>
#include <deque>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

// Collects what is written into large blocks and passes them on to a
// target buffer from a thread of its own, in order, so that producing the
// text and the system calls that store it run at the same time. Once the
// target takes a block short, every later write fails.
class clBackgroundWriter : public std::streambuf {
public:
    explicit clBackgroundWriter(std::streambuf& target);
    ~clBackgroundWriter() override;  // finishes, then stops the thread

    clBackgroundWriter(const clBackgroundWriter&) = delete;
    clBackgroundWriter& operator=(const clBackgroundWriter&) = delete;

    // Waits until every byte written so far has reached the target; false
    // when any of them did not.
    bool finish();

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    // Queues the block being filled and starts another.
    bool handOver();
    void run();

    std::streambuf& target;
    std::mutex lock;
    std::condition_variable changed;
    std::string filling;               // the put area
    std::deque<std::string> queued;    // blocks for the target, oldest first
    std::vector<std::string> spare;    // emptied blocks, to be filled again
    bool writing = false;              // the thread holds a block
    bool failed = false;
    bool stopping = false;
    std::thread writer;
};

#endif

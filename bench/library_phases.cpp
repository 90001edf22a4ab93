// library_phases: times the XML library's own phases on one file, in process.
//
//   library_phases <file> [rounds]
//
// Each round loads the file (read and parse), measures what an export would
// write (the walk the tool makes before writing), and exports it into a
// stream that only counts the bytes, so no disk is timed. Prints, per phase,
// the median of the rounds' wall and CPU seconds, and the exported bytes.
// Built against any version of the library that has clXML(path) and
// exportStream, so that two builds can be run in turn.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <streambuf>
#include <string>
#include <vector>

#include "xml/xml.h"
#if __has_include("xml/writer.h")
#include "xml/writer.h"
#endif

namespace {

// A stream buffer that takes every byte and keeps none.
class clCounter : public std::streambuf {
public:
    unsigned long long bytes = 0;

protected:
    std::streamsize xsputn(const char*, std::streamsize count) override {
        bytes += static_cast<unsigned long long>(count);
        return count;
    }
    int_type overflow(int_type c) override {
        ++bytes;
        return traits_type::not_eof(c);
    }
};

struct clTimes {
    std::vector<double> wall, cpu;
};

template <class Job>
void timed(clTimes& times, Job job) {
    const auto wallStart = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    job();
    times.cpu.push_back(static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
    times.wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count());
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// What an export would write, by the measuring walk of this version.
unsigned long long measured(const qor::utility::clXML& document) {
#if __has_include("xml/writer.h")
    return qor::utility::writer::exportSize(document, false).bytes;
#else
    return document.exportSize(false).bytes;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: library_phases <file> [rounds]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    clTimes load, measure, exported;
    unsigned long long bytes = 0, size = 0;
    for (int round = 0; round < rounds; ++round) {
        qor::utility::clXML document;
        timed(load, [&] { document.load(argv[1]); });
        if (!document.isLoad()) {
            std::printf("cannot load %s\n", argv[1]);
            return 1;
        }
        timed(measure, [&] { size = measured(document); });
        clCounter counter;
        std::ostream out(&counter);
        timed(exported, [&] { document.exportStream(&out); });
        bytes = counter.bytes;
    }
    std::printf("load %.4f %.4f measure %.4f %.4f export %.4f %.4f bytes %llu %llu\n", median(load.wall),
                median(load.cpu), median(measure.wall), median(measure.cpu), median(exported.wall),
                median(exported.cpu), bytes, size);
    return bytes == size ? 0 : 1;
}

// gen_swf_xml: writes a synthetic XML description of an SWF movie for benchmarks.
//
//   gen_swf_xml <output-path> <size-in-MB> [seed]
//   gen_swf_xml --batch <directory> <count> [seed]   (movie_00000.xml, ... of varied sizes)
//
// 1 MB is 1,000,000 bytes. The output depends only on the size and the seed:
// a fixed PRNG and integer arithmetic only, so every platform writes the same bytes.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: tiny, fast and fully specified, unlike std:: distributions.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    // Integer in [lo, hi].
    long long range(long long lo, long long hi) {
        return lo + static_cast<long long>(next() % static_cast<std::uint64_t>(hi - lo + 1));
    }

    bool chance(unsigned percent) { return next() % 100 < percent; }

private:
    std::uint64_t state;
};

// Buffered writer that knows the nesting depth; one element per line.
class Writer {
public:
    explicit Writer(std::FILE* f) : file(f) { buf.reserve(capacity + 65536); }
    ~Writer() { flush(); }

    std::uint64_t bytes() const { return written + buf.size(); }
    std::uint64_t base64Bytes() const { return base64; }
    std::uint64_t depth() const { return open.size(); }
    bool ok() const { return good; }

    void raw(const char* s) { put(s, std::strlen(s)); }

    // "<tag" at the current indentation; attributes follow, then openEnd/emptyEnd.
    void begin(const char* tag) {
        indent();
        put("<", 1);
        raw(tag);
        pending = tag;
    }
    void attr(const char* name, long long value) {
        char num[24];
        auto res = std::to_chars(num, num + sizeof num, value);
        attrStart(name);
        put(num, static_cast<std::size_t>(res.ptr - num));
        put("\"", 1);
    }
    void attrText(const char* name, const char* value) {
        attrStart(name);
        raw(value);
        put("\"", 1);
    }
    void openEnd() {
        put(">\n", 2);
        open.push_back(pending);
    }
    void emptyEnd() { put("/>\n", 3); }

    void open0(const char* tag) { begin(tag); openEnd(); }
    void empty0(const char* tag) { begin(tag); emptyEnd(); }

    void close() {
        const char* tag = open.back();
        open.pop_back();
        indent();
        put("</", 2);
        raw(tag);
        put(">\n", 2);
    }

    // <data><data>BASE64</data></data>; wrapped text starts on its own line.
    void base64Data(Rng& rng, std::size_t length, std::size_t wrap, const char* prefix) {
        static const char alphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        open0("data");
        indent();
        put("<data>", 6);
        if (wrap) put("\n", 1);
        std::size_t done = std::strlen(prefix);
        put(prefix, done);
        std::uint64_t bits = 0;
        int left = 0;
        std::size_t column = done;
        for (; done < length; ++done) {
            if (left == 0) { bits = rng.next(); left = 10; }
            char c = alphabet[bits & 63];
            bits >>= 6;
            --left;
            buf.push_back(c);  // payloads stay within the slack reserved past capacity
            if (wrap && ++column == wrap && done + 1 < length) {
                buf.push_back('\n');
                column = 0;
            }
        }
        base64 += length;
        if (wrap) put("\n", 1);
        put("</data>\n", 8);
        close();
    }

    void flush() {
        if (!buf.empty() && std::fwrite(buf.data(), 1, buf.size(), file) != buf.size()) good = false;
        written += buf.size();
        buf.clear();
    }

private:
    static constexpr std::size_t capacity = std::size_t(8) << 20;

    void put(const char* s, std::size_t n) {
        buf.append(s, n);
        if (buf.size() >= capacity) flush();
    }
    void indent() {
        static const std::string spaces(256, ' ');
        put(spaces.data(), 2 * open.size());
    }
    void attrStart(const char* name) {
        put(" ", 1);
        raw(name);
        put("=\"", 2);
    }

    std::FILE* file;
    std::string buf;
    std::vector<const char*> open;
    const char* pending = "";
    std::uint64_t written = 0;
    std::uint64_t base64 = 0;
    bool good = true;
};

// The movie's content; each emit* writes one complete element at the current depth.
class Movie {
public:
    Movie(Writer& writer, Rng& random) : w(writer), rng(random) {}

    void color(const char* wrapper, bool alpha) {
        w.open0(wrapper);
        w.begin("Color");
        w.attr("red", rng.range(0, 255));
        w.attr("green", rng.range(0, 255));
        w.attr("blue", rng.range(0, 255));
        if (alpha) w.attr("alpha", rng.range(0, 255));
        w.emptyEnd();
        w.close();
    }

    void rectangle(const char* wrapper, long long right, long long bottom) {
        w.open0(wrapper);
        w.begin("Rectangle");
        w.attr("left", rng.range(-400, 0));
        w.attr("right", rng.range(1, right));
        w.attr("top", rng.range(-400, 0));
        w.attr("bottom", rng.range(1, bottom));
        w.emptyEnd();
        w.close();
    }

    void transform(const char* wrapper) {
        w.open0(wrapper);
        w.begin("Transform");
        if (rng.chance(40)) {
            w.attr("scaleX", rng.range(20000, 90000));
            w.attr("scaleY", rng.range(20000, 90000));
        }
        if (rng.chance(20)) {
            w.attr("skewX", rng.range(-30000, 30000));
            w.attr("skewY", rng.range(-30000, 30000));
        }
        w.attr("transX", rng.range(-2000, 12000));
        w.attr("transY", rng.range(-2000, 9000));
        w.emptyEnd();
        w.close();
    }

    void fillStyles() {
        w.open0("fillStyles");
        long long n = rng.range(1, 3);
        for (long long i = 0; i < n; ++i) {
            if (rng.chance(70)) {
                w.open0("Solid");
                color("color", shapeAlpha);
                w.close();
            } else {
                w.open0("LinearGradient");
                transform("matrix");
                w.open0("gradient");
                w.open0("Gradient");
                w.open0("gradientColors");
                long long stops = rng.range(2, 4);
                for (long long s = 0; s < stops; ++s) {
                    w.begin("GradientItem");
                    w.attr("position", s * 255 / (stops - 1));
                    w.openEnd();
                    color("color", shapeAlpha);
                    w.close();
                }
                w.close();
                w.close();
                w.close();
                w.close();
            }
        }
        w.close();
    }

    void lineStyles() {
        w.open0("lineStyles");
        long long n = rng.range(0, 2);
        for (long long i = 0; i < n; ++i) {
            w.begin("LineStyle");
            w.attr("width", rng.range(1, 120));
            w.openEnd();
            color("color", shapeAlpha);
            w.close();
        }
        w.close();
    }

    // The bulk of a real file: many small edge records.
    void edges(long long count) {
        w.open0("edges");
        for (long long i = 0; i < count; ++i) {
            unsigned kind = static_cast<unsigned>(rng.next() % 100);
            if (i == 0 || kind < 3) {
                w.begin("ShapeSetup");
                w.attr("x", rng.range(-8000, 8000));
                w.attr("y", rng.range(-8000, 8000));
                if (rng.chance(70)) w.attr("fillStyle0", rng.range(1, 3));
                if (rng.chance(30)) w.attr("fillStyle1", rng.range(0, 3));
                if (rng.chance(40)) w.attr("lineStyle", rng.range(0, 2));
                w.emptyEnd();
            } else if (kind < 58) {
                w.begin("LineTo");
                w.attr("x", rng.range(-800, 800));
                w.attr("y", rng.range(-800, 800));
                w.emptyEnd();
            } else {
                w.begin("CurveTo");
                w.attr("x1", rng.range(-500, 500));
                w.attr("y1", rng.range(-500, 500));
                w.attr("x2", rng.range(-500, 500));
                w.attr("y2", rng.range(-500, 500));
                w.emptyEnd();
            }
        }
        w.empty0("ShapeSetup");
        w.close();
    }

    void defineShape() {
        static const char* const kinds[] = {"DefineShape", "DefineShape2", "DefineShape3"};
        int kind = static_cast<int>(rng.next() % 3);
        shapeAlpha = kind == 2;
        w.begin(kinds[kind]);
        w.attr("objectID", nextId++);
        w.openEnd();
        rectangle("bounds", 11000, 8000);
        w.open0("styles");
        w.open0("StyleList");
        fillStyles();
        lineStyles();
        w.close();
        w.close();
        w.open0("shapes");
        w.open0("Shape");
        edges(rng.chance(10) ? rng.range(300, 1500) : rng.range(10, 200));
        w.close();
        w.close();
        w.close();
    }

    void stackItems(long long count) {
        static const char* const names[] = {
            "_root", "this", "gotoAndPlay", "stop", "play", "_parent", "onEnterFrame",
            "counter", "score", "level", "loadMovie", "getURL", "_x", "_y", "_alpha",
            "Math", "random", "floor", "length", "push", "Array", "String", "Sound",
            "attachSound", "start", "mc_holder", "btn_next", "btn_back", "trace"};
        w.open0("items");
        for (long long i = 0; i < count; ++i) {
            unsigned kind = static_cast<unsigned>(rng.next() % 100);
            if (kind < 55) {
                w.begin("StackString");
                w.attrText("value", names[rng.next() % (sizeof names / sizeof names[0])]);
            } else if (kind < 80) {
                w.begin("StackInteger");
                w.attr("value", rng.range(-100, 5000));
            } else if (kind < 92) {
                w.begin("StackDictionaryLookup");
                w.attr("index", rng.range(0, 40));
            } else {
                w.begin("StackRegister");
                w.attr("reg", rng.range(1, 6));
            }
            w.emptyEnd();
        }
        w.close();
    }

    // An action list; functions nest another list inside, which gives the deepest lines.
    void actions(long long count, int nesting) {
        static const char* const simple[] = {
            "GetVariable", "SetVariable", "GetMember", "SetMember", "CallFunction",
            "CallMethod", "Pop", "Add2", "Equals2", "Not", "Increment", "Less2",
            "InitObject", "NewObject", "Return", "Duplicate", "Stop", "Play"};
        w.open0("actions");
        for (long long i = 0; i < count; ++i) {
            unsigned kind = static_cast<unsigned>(rng.next() % 100);
            if (kind < 35) {
                w.open0("PushData");
                stackItems(rng.range(1, 4));
                w.close();
            } else if (kind < 42) {
                w.begin(rng.chance(50) ? "BranchIfTrue" : "BranchAlways");
                w.attr("byteOffset", rng.range(-300, 300));
                w.emptyEnd();
            } else if (kind < 47) {
                w.begin("GotoFrame");
                w.attr("frame", rng.range(0, 200));
                w.emptyEnd();
            } else if (kind < 50 && nesting > 0) {
                w.begin("DeclareFunction2");
                w.attrText("name", "");
                w.attr("argc", 1);
                w.attr("regc", rng.range(2, 6));
                w.attr("preloadThis", 1);
                w.attr("suppressArguments", 1);
                w.openEnd();
                w.open0("args");
                w.begin("Parameter");
                w.attr("reg", 1);
                w.attrText("name", "e");
                w.emptyEnd();
                w.close();
                actions(rng.range(3, 14), nesting - 1);
                w.close();
            } else {
                w.empty0(simple[rng.next() % (sizeof simple / sizeof simple[0])]);
            }
        }
        w.empty0("EndAction");
        w.close();
    }

    void doAction(int nesting) {
        w.open0("DoAction");
        actions(rng.range(4, 30), nesting);
        w.close();
    }

    void placeObject(bool withEvents) {
        w.begin("PlaceObject2");
        w.attr("replace", rng.chance(20) ? 1 : 0);
        w.attr("depth", rng.range(1, 60));
        if (nextId > 1) w.attr("objectID", rng.range(1, nextId - 1));
        w.openEnd();
        transform("transform");
        if (rng.chance(15)) {
            w.open0("colorTransform");
            w.begin("ColorTransform2");
            w.attr("factorRed", rng.range(0, 256));
            w.attr("factorGreen", rng.range(0, 256));
            w.attr("factorBlue", rng.range(0, 256));
            w.attr("factorAlpha", rng.range(0, 256));
            w.emptyEnd();
            w.close();
        }
        if (withEvents) {
            w.open0("events");
            w.begin("Event");
            w.attr("flags1", rng.chance(50) ? 1 : 64);
            w.attr("flags2", 0);
            w.openEnd();
            actions(rng.range(3, 12), 1);
            w.close();
            w.close();
        }
        w.close();
    }

    void defineSprite() {
        w.begin("DefineSprite");
        w.attr("objectID", nextId++);
        long long frames = rng.range(1, 12);
        w.attr("frames", frames);
        w.openEnd();
        w.open0("tags");
        for (long long f = 0; f < frames; ++f) {
            long long items = rng.range(1, 3);
            for (long long i = 0; i < items; ++i) {
                unsigned kind = static_cast<unsigned>(rng.next() % 100);
                if (kind < 65) {
                    placeObject(rng.chance(25));
                } else if (kind < 85) {
                    doAction(2);
                } else {
                    w.begin("RemoveObject2");
                    w.attr("depth", rng.range(1, 60));
                    w.emptyEnd();
                }
            }
            w.empty0("ShowFrame");
        }
        w.empty0("End");
        w.close();
        w.close();
    }

    // Binary payloads: mostly one long line each, sound data wrapped at 76 columns.
    void binary() {
        unsigned kind = static_cast<unsigned>(rng.next() % 100);
        if (kind < 25) {
            w.begin("DefineBitsJPEG2");
            w.attr("objectID", nextId++);
            w.openEnd();
            w.base64Data(rng, static_cast<std::size_t>(rng.range(2000, 12000)) * 4, 0, "/9j/4AAQSkZJRgABAQEASABIAAD/");
            w.close();
        } else if (kind < 40) {
            w.begin("DefineBitsLossless");
            w.attr("objectID", nextId++);
            w.attr("format", 5);
            w.attr("width", rng.range(16, 400));
            w.attr("height", rng.range(16, 300));
            w.openEnd();
            w.base64Data(rng, static_cast<std::size_t>(rng.range(1000, 8000)) * 4, 0, "eNrt");
            w.close();
        } else if (kind < 80) {
            w.begin("DefineSound");
            w.attr("objectID", nextId++);
            w.attr("format", 2);
            w.attr("rate", 3);
            w.attr("is16bit", 1);
            w.attr("stereo", rng.range(0, 1));
            w.attr("samples", rng.range(20000, 400000));
            w.openEnd();
            w.base64Data(rng, static_cast<std::size_t>(rng.range(2000, 10000)) * 4, 76, "//uQx");
            w.close();
        } else {
            long long blocks = rng.range(1, 4);
            for (long long b = 0; b < blocks; ++b) {
                w.open0("SoundStreamBlock");
                w.base64Data(rng, static_cast<std::size_t>(rng.range(100, 600)) * 4, 76, "//uQx");
                w.close();
            }
        }
    }

    void item() {
        if (w.base64Bytes() * 4 < w.bytes()) {
            binary();
            return;
        }
        unsigned kind = static_cast<unsigned>(rng.next() % 100);
        if (kind < 80) {
            defineShape();
        } else if (kind < 92) {
            defineSprite();
        } else if (kind < 97) {
            doAction(3);
        } else {
            placeObject(false);
        }
    }

private:
    Writer& w;
    Rng& rng;
    long long nextId = 1;
    bool shapeAlpha = false;
};

bool parseSize(const char* text, std::uint64_t& bytes) {
    char* end = nullptr;
    double mb = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(mb > 0) || mb > 1e6) return false;
    bytes = static_cast<std::uint64_t>(mb * 1e6 + 0.5);
    return true;
}

// Writes one movie of about target bytes to path; false on failure.
bool writeMovie(const char* path, std::uint64_t target, std::uint64_t seed) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) {
        std::printf("cannot open %s for writing\n", path);
        return false;
    }
    Rng rng(seed);
    bool ok = false;
    {
        Writer w(f);
        Movie movie(w, rng);
        // A frame every target/frames bytes; the count is fixed up front so Header can state it.
        const std::uint64_t frames = target / 250000 + 1;

        w.raw("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
        w.begin("swf");
        w.attr("version", 8);
        w.attr("compressed", 1);
        w.openEnd();
        w.begin("Header");
        w.attr("framerate", 24);
        w.attr("frames", static_cast<long long>(frames));
        w.openEnd();
        movie.rectangle("size", 16000, 12000);
        w.open0("tags");
        w.begin("FileAttributes");
        w.attr("hasMetaData", 0);
        w.attr("useNetwork", 0);
        w.emptyEnd();
        w.open0("SetBackgroundColor");
        movie.color("color", false);
        w.close();

        const std::uint64_t tail = 64;  // what the closing lines below take
        std::uint64_t shown = 0;
        while (w.bytes() + tail < target) {
            movie.item();
            while (shown < frames && w.bytes() >= (shown + 1) * (target / frames)) {
                w.empty0("ShowFrame");
                ++shown;
            }
        }
        for (; shown < frames; ++shown) w.empty0("ShowFrame");
        w.empty0("End");
        w.close();  // tags
        w.close();  // Header
        w.close();  // swf
        w.flush();
        ok = w.ok();
    }
    if (std::fclose(f) != 0) ok = false;
    if (!ok) std::printf("write failed: %s\n", path);
    return ok;
}

// The size of a batch's file: 2^(x/100) KiB for x a sum of four draws
// from [0, 300), so 2 KB to about 4 MB, a median near 80 KB and most files
// between 10 KB and 1 MB; none under 2 KB.
std::uint64_t batchFileSize(Rng& rng) {
    long long x = 0;
    for (int i = 0; i < 4; ++i) x += rng.range(0, 299);
    const std::uint64_t whole = std::uint64_t(1024) << (x / 100);
    const std::uint64_t bytes = whole + whole * static_cast<std::uint64_t>(x % 100) / 100;
    return bytes < 2000 ? 2000 : bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--batch") == 0) {
        char* end = nullptr;
        const unsigned long count = std::strtoul(argv[3], &end, 10);
        if (*end != '\0' || count == 0 || count > 100000) {
            std::printf("not a file count: %s\n", argv[3]);
            return 2;
        }
        const std::uint64_t seed = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1;
        Rng sizes(seed);
        for (unsigned long i = 0; i < count; ++i) {
            char path[4096];
            std::snprintf(path, sizeof path, "%s/movie_%05lu.xml", argv[2], i);
            if (!writeMovie(path, batchFileSize(sizes), seed * 100003 + i)) return 1;
        }
        return 0;
    }
    std::uint64_t target = 0;
    if (argc < 3 || !parseSize(argv[2], target)) {
        std::printf("usage: gen_swf_xml <output-path> <size-in-MB> [seed]\n"
                    "       gen_swf_xml --batch <directory> <count> [seed]\n");
        return 2;
    }
    const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
    return writeMovie(argv[1], target, seed) ? 0 : 1;
}

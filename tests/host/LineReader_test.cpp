#include "LineReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace pt::host {
namespace {

// Hands out its text in pieces of at most `chunk` bytes, as a socket or pipe would.
class MemorySource final : public ByteSource {
public:
    MemorySource(std::string text, size_t chunk, bool stream)
        : text_(std::move(text)), chunk_(chunk), stream_(stream) {
        name_ = "memory";
    }
    size_t read(char* buf, size_t n) override {
        size_t k = std::min({n, chunk_, text_.size() - pos_});
        std::memcpy(buf, text_.data() + pos_, k);
        pos_ += k;
        return k;
    }
    bool isStream() const override { return stream_; }

private:
    std::string text_;
    size_t pos_ = 0, chunk_;
    bool stream_;
};

// Every event as text: "L<n>:<line>", "T<n>" (too long) or "C<n>" (cut off).
std::string readAll(const std::string& text, size_t maxLine, size_t chunk, bool stream) {
    MemorySource src(text, chunk, stream);
    LineReader reader(src, maxLine);
    std::string out;
    std::string_view line;
    for (;;) {
        auto st = reader.next(line);
        std::string n = std::to_string(reader.lineNumber());
        switch (st) {
        case LineReader::Status::End:
            return out;
        case LineReader::Status::Line:
            out += "L" + n + ":" + std::string(line) + " ";
            break;
        case LineReader::Status::TooLong:
            out += "T" + n + " ";
            break;
        case LineReader::Status::CutOff:
            out += "C" + n + " ";
            break;
        }
    }
}

TEST(LineReaderTest, SplitsLimitsAndCutOffs) {
    struct Case {
        const char* text;
        size_t maxLine;
        bool stream;
        const char* expect;
    } cases[] = {
        {"", 8, false, ""},
        {"a\nb\r\n\nc", 8, false, "L1:a L2:b L3: L4:c "},
        {"a\nb", 8, true, "L1:a C2 "}, // a connection that closed mid-line
        {"a\nb\n", 8, true, "L1:a L2:b "},
        {"abcd\nabcde\nxy\n", 4, false, "L1:abcd T2 L3:xy "},
        {"abcdefghijklmnop", 4, false, "T1 "}, // over-long and unterminated: one report
        {"abcdefghijklmnop", 4, true, "T1 "},
        {"x\nabcdefghijklmnop\n\nz\n", 4, false, "L1:x T2 L3: L4:z "},
    };
    for (const Case& c : cases)
        for (size_t chunk : {1, 3, 4096}) // lines and limits must not depend on read sizes
            EXPECT_EQ(readAll(c.text, c.maxLine, chunk, c.stream), c.expect)
                << c.text << " chunk " << chunk;
}

TEST(LineReaderTest, HugeLineIsSkippedWithoutHoldingIt) {
    std::string text = "first\n" + std::string(5'000'000, 'x') + "\nlast\n";
    EXPECT_EQ(readAll(text, 64, 1 << 16, false), "L1:first T2 L3:last ");
}

} // namespace
} // namespace pt::host

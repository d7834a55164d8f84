#include "LineReader.h"

#include <cstring>

namespace pt::host {

static constexpr size_t kChunk = 64 * 1024;

// The buffer holds at most one line of the maximum length, its line break and one chunk: the
// reader never needs more, whatever the input.
LineReader::LineReader(ByteSource& src, size_t maxLine)
    : src_(src), maxLine_(maxLine ? maxLine : 1), buf_(maxLine_ + 1 + kChunk) {}

bool LineReader::fill() {
    if (begin_ > 0) {
        std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (beforeRead_) beforeRead_();
    size_t n = src_.read(buf_.data() + end_, buf_.size() - end_);
    bytesRead_ += n;
    end_ += n;
    return n > 0;
}

static std::string_view stripCr(std::string_view s) {
    if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
    return s;
}

LineReader::Status LineReader::next(std::string_view& line) {
    for (;;) {
        const char* base = buf_.data();
        const void* nl = std::memchr(base + begin_, '\n', end_ - begin_);
        if (nl) {
            size_t pos = static_cast<const char*>(nl) - base;
            std::string_view text(base + begin_, pos - begin_);
            begin_ = pos + 1;
            if (skipping_) {
                skipping_ = false; // the end of a line reported as too long
                continue;
            }
            ++lineNo_;
            if (text.size() > maxLine_) return Status::TooLong;
            line = stripCr(text);
            return Status::Line;
        }
        if (skipping_) {
            begin_ = end_ = 0;
        } else if (end_ - begin_ > maxLine_) {
            ++lineNo_;
            skipping_ = true;
            begin_ = end_ = 0;
            return Status::TooLong;
        }
        if (eof_) {
            if (begin_ == end_) {
                skipping_ = false;
                return Status::End;
            }
            ++lineNo_;
            std::string_view text(base + begin_, end_ - begin_);
            begin_ = end_;
            if (src_.isStream()) return Status::CutOff;
            line = stripCr(text);
            return Status::Line;
        }
        if (!fill()) eof_ = true;
    }
}

} // namespace pt::host

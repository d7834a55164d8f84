// Splits a byte source into lines with bounded memory. A line longer than the limit is
// reported once and skipped up to its end; input that ends inside a line of a stream source
// (a connection or device) is reported as cut off. Line numbers count every line, reported or
// not, from 1. A trailing carriage return is removed.
#pragma once

#include "Sources.h"

#include <functional>
#include <string_view>
#include <vector>

namespace pt::host {

class LineReader {
public:
    enum class Status {
        Line,    // `line` holds the next line
        TooLong, // the line numbered lineNumber() exceeded the limit and was skipped
        CutOff,  // the stream ended inside the line numbered lineNumber(); it was dropped
        End,     // no more input
    };

    LineReader(ByteSource& src, size_t maxLine);

    // The view stays valid until the next call. Throws IoError from the source.
    Status next(std::string_view& line);
    uint64_t lineNumber() const { return lineNo_; }
    uint64_t bytesRead() const { return bytesRead_; }
    // Called before every read from the source, that is whenever the reader may block: the
    // run loop flushes its output there, so that a slow stream sees its rows at once while a
    // file is written in large blocks.
    void setBeforeRead(std::function<void()> fn) { beforeRead_ = std::move(fn); }

private:
    bool fill();

    ByteSource& src_;
    size_t maxLine_;
    std::vector<char> buf_;
    size_t begin_ = 0, end_ = 0;
    uint64_t lineNo_ = 0;
    uint64_t bytesRead_ = 0;
    bool eof_ = false;
    bool skipping_ = false; // inside an over-long line that was already reported
    std::function<void()> beforeRead_;
};

} // namespace pt::host

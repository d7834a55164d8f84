// Byte sources the host reads packets from, and the way back to them for bytes a script sends:
// standard input, files, TCP (connect or accept one connection) and serial ports.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace pt::host {

// A source that cannot be opened, or an I/O failure; the message is one line for the user.
class IoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Completes opening where that means waiting (a listening socket accepts its one
    // connection here). Throws IoError.
    virtual void start() {}
    // Reads up to n bytes; 0 at the end of input. Throws IoError on a read failure.
    virtual size_t read(char* buf, size_t n) = 0;
    // Sends bytes back to the source; false when the source has no way back or the write
    // failed. Safe to call from any thread.
    virtual bool reply(const void* data, size_t n);
    virtual bool canReply() const { return false; }
    // A connection or device: input that ends inside a line was cut off, not finished.
    virtual bool isStream() const { return false; }
    // Total bytes when known in advance (regular files), else -1.
    virtual int64_t sizeHint() const { return -1; }
    const std::string& name() const { return name_; }

protected:
    std::string name_;
};

// Opens "-", a file path, "tcp://HOST:PORT", "tcp-listen://HOST:PORT" or
// "serial:DEVICE[?baud=N]". A listening socket is bound here and `announce` receives the
// address it listens on; it accepts in start(). Throws IoError; std::invalid_argument for a
// malformed address.
std::unique_ptr<ByteSource> openSource(const std::string& location,
                                       void (*announce)(const std::string&) = nullptr);

// Where output goes: "-" is standard output, anything else a file that is created or
// truncated. Writes are buffered; flush() pushes them out. Throws IoError.
class ByteSink {
public:
    explicit ByteSink(int fd, std::string name, bool owned);
    static std::unique_ptr<ByteSink> open(const std::string& location, int stdFd);
    ~ByteSink();
    ByteSink(const ByteSink&) = delete;
    ByteSink& operator=(const ByteSink&) = delete;

    void write(const char* data, size_t n);
    void write(const std::string& s) { write(s.data(), s.size()); }
    void flush();
    bool isTerminal() const;
    const std::string& name() const { return name_; }

private:
    void writeAll(const char* data, size_t n);
    int fd_;
    bool owned_;
    std::string name_;
    std::string buf_;
};

// A file that receives the bytes a script sends when the source itself has no way back.
class ReplyFile {
public:
    explicit ReplyFile(const std::string& path);
    bool write(const void* data, size_t n);

private:
    std::mutex mu_;
    std::unique_ptr<ByteSink> sink_;
};

} // namespace pt::host

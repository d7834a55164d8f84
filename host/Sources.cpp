#include "Sources.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libserialport.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace pt::host {

static std::string errnoText(int e) {
    return std::strerror(e);
}

bool ByteSource::reply(const void*, size_t) {
    return false;
}

namespace {

class FdSource final : public ByteSource {
public:
    FdSource(int fd, std::string name, bool owned) : fd_(fd), owned_(owned) {
        name_ = std::move(name);
        struct stat st;
        if (fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = st.st_size;
    }
    ~FdSource() override {
        if (owned_) close(fd_);
    }
    size_t read(char* buf, size_t n) override {
        for (;;) {
            ssize_t r = ::read(fd_, buf, n);
            if (r >= 0) return static_cast<size_t>(r);
            if (errno == EINTR) continue;
            throw IoError("cannot read " + name_ + ": " + errnoText(errno));
        }
    }
    int64_t sizeHint() const override { return size_; }

private:
    int fd_;
    bool owned_;
    int64_t size_ = -1;
};

// Writes all bytes to a socket, waiting at most `timeoutMs` for each chunk to be taken, so
// that a peer that stops reading cannot stall the script forever.
bool sendAll(int fd, const char* p, size_t n, int timeoutMs) {
    while (n) {
        ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w > 0) {
            p += w;
            n -= static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            struct pollfd pfd = {fd, POLLOUT, 0};
            int r = poll(&pfd, 1, timeoutMs);
            if (r > 0) continue;
            if (r < 0 && errno == EINTR) continue;
        }
        return false;
    }
    return true;
}

class TcpSource final : public ByteSource {
public:
    TcpSource(int fd, std::string name) : fd_(fd) { name_ = std::move(name); }
    ~TcpSource() override { close(fd_); }
    size_t read(char* buf, size_t n) override {
        for (;;) {
            ssize_t r = ::recv(fd_, buf, n, 0);
            if (r >= 0) return static_cast<size_t>(r);
            if (errno == EINTR) continue;
            if (errno == ECONNRESET) return 0; // the peer went away: the input has ended
            throw IoError("cannot read " + name_ + ": " + errnoText(errno));
        }
    }
    bool reply(const void* data, size_t n) override {
        std::lock_guard<std::mutex> lock(mu_);
        return sendAll(fd_, static_cast<const char*>(data), n, 2000);
    }
    bool canReply() const override { return true; }
    bool isStream() const override { return true; }

private:
    int fd_;
    std::mutex mu_;
};

class SerialSource final : public ByteSource {
public:
    SerialSource(sp_port* port, std::string name) : port_(port) { name_ = std::move(name); }
    ~SerialSource() override {
        sp_close(port_);
        sp_free_port(port_);
    }
    size_t read(char* buf, size_t n) override {
        for (;;) {
            int r = sp_blocking_read_next(port_, buf, n, 0);
            if (r > 0) return static_cast<size_t>(r);
            if (r == 0) continue;
            int e = errno;
            if (e == EINTR) continue;
            // A hang-up (the other end of a pseudo-terminal closed, a device unplugged) reads
            // as EIO: the input has ended.
            if (e == EIO || e == ENXIO || e == ENODEV) return 0;
            char* msg = sp_last_error_message();
            std::string text = msg ? msg : errnoText(e);
            sp_free_error_message(msg);
            throw IoError("cannot read " + name_ + ": " + text);
        }
    }
    bool reply(const void* data, size_t n) override {
        std::lock_guard<std::mutex> lock(mu_);
        int r = sp_blocking_write(port_, data, n, 2000);
        return r >= 0 && static_cast<size_t>(r) == n;
    }
    bool canReply() const override { return true; }
    bool isStream() const override { return true; }

private:
    sp_port* port_;
    std::mutex mu_;
};

struct HostPort {
    std::string host, port;
};

HostPort splitHostPort(const std::string& location, const std::string& rest) {
    HostPort hp;
    size_t colon;
    if (!rest.empty() && rest[0] == '[') {
        size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            throw std::invalid_argument("malformed address '" + location + "': expected [HOST]:PORT");
        hp.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos)
            throw std::invalid_argument("malformed address '" + location + "': expected HOST:PORT");
        hp.host = rest.substr(0, colon);
    }
    hp.port = rest.substr(colon + 1);
    if (hp.host.empty() || hp.port.empty() ||
        hp.port.find_first_not_of("0123456789") != std::string::npos || hp.port.size() > 5 ||
        std::stoi(hp.port) > 65535)
        throw std::invalid_argument("malformed address '" + location + "': expected HOST:PORT");
    return hp;
}

struct AddrInfo {
    addrinfo* list = nullptr;
    ~AddrInfo() {
        if (list) freeaddrinfo(list);
    }
};

void resolve(const HostPort& hp, bool passive, AddrInfo& out, const std::string& location) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    if (passive) hints.ai_flags = AI_PASSIVE;
    int r = getaddrinfo(hp.host.c_str(), hp.port.c_str(), &hints, &out.list);
    if (r != 0) throw IoError("cannot resolve " + location + ": " + gai_strerror(r));
}

std::unique_ptr<ByteSource> openTcp(const std::string& location, const std::string& rest) {
    HostPort hp = splitHostPort(location, rest);
    AddrInfo ai;
    resolve(hp, false, ai, location);
    int lastErr = 0;
    for (addrinfo* a = ai.list; a; a = a->ai_next) {
        int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastErr = errno;
            continue;
        }
        if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return std::make_unique<TcpSource>(fd, location);
        }
        lastErr = errno;
        close(fd);
    }
    throw IoError("cannot connect to " + location + ": " + errnoText(lastErr));
}

// Binds and listens at once (so that a taken port is reported before anything else runs);
// accepts its one connection in start().
class ListenSource final : public ByteSource {
public:
    ListenSource(int fd, std::string name) : listenFd_(fd) { name_ = std::move(name); }
    ~ListenSource() override {
        if (listenFd_ >= 0) close(listenFd_);
    }
    void start() override {
        int conn;
        do conn = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        while (conn < 0 && errno == EINTR);
        int e = errno;
        close(listenFd_);
        listenFd_ = -1;
        if (conn < 0) throw IoError("cannot accept on " + name_ + ": " + errnoText(e));
        int one = 1;
        setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard<std::mutex> lock(mu_);
        conn_ = std::make_unique<TcpSource>(conn, name_);
    }
    size_t read(char* buf, size_t n) override {
        if (!conn_) start();
        return conn_->read(buf, n);
    }
    bool reply(const void* data, size_t n) override {
        std::lock_guard<std::mutex> lock(mu_);
        return conn_ && conn_->reply(data, n);
    }
    bool canReply() const override { return true; }
    bool isStream() const override { return true; }

private:
    int listenFd_;
    std::mutex mu_;
    std::unique_ptr<TcpSource> conn_;
};

std::unique_ptr<ByteSource> listenTcp(const std::string& location, const std::string& rest,
                                      void (*announce)(const std::string&)) {
    HostPort hp = splitHostPort(location, rest);
    AddrInfo ai;
    resolve(hp, true, ai, location);
    int lastErr = 0;
    for (addrinfo* a = ai.list; a; a = a->ai_next) {
        int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastErr = errno;
            continue;
        }
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 1) != 0) {
            lastErr = errno;
            close(fd);
            continue;
        }
        sockaddr_storage bound{};
        socklen_t len = sizeof bound;
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
        char host[NI_MAXHOST], port[NI_MAXSERV];
        if (announce && getnameinfo(reinterpret_cast<sockaddr*>(&bound), len, host, sizeof host,
                                    port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
            std::string h = host;
            if (h.find(':') != std::string::npos) h = "[" + h + "]";
            announce("listening on tcp://" + h + ":" + port);
        }
        return std::make_unique<ListenSource>(fd, location);
    }
    throw IoError("cannot listen on " + location + ": " + errnoText(lastErr));
}

std::string serialError(const std::string& what) {
    char* msg = sp_last_error_message();
    std::string text = what + ": " + (msg ? msg : "unknown error");
    sp_free_error_message(msg);
    return text;
}

// A terminal device driven through termios: for devices that libserialport cannot describe,
// above all pseudo-terminals (it looks every port up in sysfs, where they have no entry).
class TtySource final : public ByteSource {
public:
    TtySource(int fd, std::string name) : fd_(fd) { name_ = std::move(name); }
    ~TtySource() override { close(fd_); }
    size_t read(char* buf, size_t n) override {
        for (;;) {
            ssize_t r = ::read(fd_, buf, n);
            if (r >= 0) return static_cast<size_t>(r);
            if (errno == EINTR) continue;
            if (errno == EIO) return 0; // hang-up: the other end went away
            throw IoError("cannot read " + name_ + ": " + errnoText(errno));
        }
    }
    bool reply(const void* data, size_t n) override {
        std::lock_guard<std::mutex> lock(mu_);
        const char* p = static_cast<const char*>(data);
        while (n) {
            ssize_t w = ::write(fd_, p, n);
            if (w > 0) {
                p += w;
                n -= static_cast<size_t>(w);
            } else if (w < 0 && errno == EINTR) {
                continue;
            } else if (w < 0 && errno == EAGAIN) {
                struct pollfd pfd = {fd_, POLLOUT, 0};
                if (poll(&pfd, 1, 2000) <= 0) return false;
            } else {
                return false;
            }
        }
        return true;
    }
    bool canReply() const override { return true; }
    bool isStream() const override { return true; }

private:
    int fd_;
    std::mutex mu_;
};

speed_t speedOf(int baud) {
    static const struct {
        int baud;
        speed_t speed;
    } table[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                 {150, B150},       {200, B200},       {300, B300},       {600, B600},
                 {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                 {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                 {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
    for (const auto& e : table)
        if (e.baud == baud) return e.speed;
    return 0;
}

std::unique_ptr<ByteSource> openTty(const std::string& location, const std::string& device, int baud,
                                    const std::string& serialMessage) {
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw IoError("cannot open " + location + ": " + errnoText(errno));
    auto src = std::make_unique<TtySource>(fd, location);
    if (!isatty(fd)) throw IoError("cannot open " + location + ": " + serialMessage);
    speed_t speed = speedOf(baud);
    struct termios t;
    if (!speed)
        throw IoError("cannot configure " + location + ": unsupported baud rate " +
                      std::to_string(baud));
    if (tcgetattr(fd, &t) != 0) throw IoError("cannot configure " + location + ": " + errnoText(errno));
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd, TCSANOW, &t) != 0)
        throw IoError("cannot configure " + location + " as 8N1 at " + std::to_string(baud) +
                      " baud: " + errnoText(errno));
    return src;
}

std::unique_ptr<ByteSource> openSerial(const std::string& location, const std::string& rest) {
    std::string device = rest;
    int baud = 9600;
    size_t q = rest.find('?');
    if (q != std::string::npos) {
        device = rest.substr(0, q);
        std::string opt = rest.substr(q + 1);
        if (opt.rfind("baud=", 0) != 0 || opt.size() == 5 || opt.size() > 12 ||
            opt.find_first_not_of("0123456789", 5) != std::string::npos)
            throw std::invalid_argument("malformed serial source '" + location +
                                        "': expected serial:DEVICE[?baud=N]");
        baud = std::stoi(opt.substr(5));
        if (baud <= 0)
            throw std::invalid_argument("malformed serial source '" + location +
                                        "': the baud rate must be positive");
    }
    if (device.empty())
        throw std::invalid_argument("malformed serial source '" + location +
                                    "': expected serial:DEVICE[?baud=N]");
    sp_port* port = nullptr;
    if (sp_get_port_by_name(device.c_str(), &port) != SP_OK) {
        char* msg = sp_last_error_message();
        std::string text = msg ? msg : "not a serial port";
        sp_free_error_message(msg);
        return openTty(location, device, baud, text);
    }
    if (sp_open(port, SP_MODE_READ_WRITE) != SP_OK) {
        std::string msg = serialError("cannot open " + location);
        sp_free_port(port);
        throw IoError(msg);
    }
    auto src = std::make_unique<SerialSource>(port, location);
    if (sp_set_baudrate(port, baud) != SP_OK || sp_set_bits(port, 8) != SP_OK ||
        sp_set_parity(port, SP_PARITY_NONE) != SP_OK || sp_set_stopbits(port, 1) != SP_OK ||
        sp_set_flowcontrol(port, SP_FLOWCONTROL_NONE) != SP_OK)
        throw IoError(serialError("cannot configure " + location + " as 8N1 at " +
                                  std::to_string(baud) + " baud"));
    return src;
}

} // namespace

std::unique_ptr<ByteSource> openSource(const std::string& location,
                                       void (*announce)(const std::string&)) {
    if (location == "-") return std::make_unique<FdSource>(0, "standard input", false);
    if (location.rfind("tcp://", 0) == 0) return openTcp(location, location.substr(6));
    if (location.rfind("tcp-listen://", 0) == 0) return listenTcp(location, location.substr(13), announce);
    if (location.rfind("serial:", 0) == 0) return openSerial(location, location.substr(7));
    int fd = ::open(location.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw IoError("cannot open " + location + ": " + errnoText(errno));
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        throw IoError("cannot read " + location + ": " + errnoText(EISDIR));
    }
    return std::make_unique<FdSource>(fd, location, true);
}

// ---- sinks -------------------------------------------------------------------------------

static constexpr size_t kSinkBuffer = 64 * 1024;

ByteSink::ByteSink(int fd, std::string name, bool owned)
    : fd_(fd), owned_(owned), name_(std::move(name)) {
    buf_.reserve(kSinkBuffer);
}

std::unique_ptr<ByteSink> ByteSink::open(const std::string& location, int stdFd) {
    if (location == "-")
        return std::make_unique<ByteSink>(stdFd, stdFd == 1 ? "standard output" : "standard error",
                                          false);
    int fd = ::open(location.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throw IoError("cannot create " + location + ": " + errnoText(errno));
    return std::make_unique<ByteSink>(fd, location, true);
}

ByteSink::~ByteSink() {
    try {
        flush();
    } catch (const IoError&) {
        // The owner flushes explicitly to see failures; a destructor must stay quiet.
    }
    if (owned_) close(fd_);
}

void ByteSink::write(const char* data, size_t n) {
    if (buf_.size() + n > kSinkBuffer) {
        flush();
        if (n >= kSinkBuffer) {
            writeAll(data, n);
            return;
        }
    }
    buf_.append(data, n);
}

void ByteSink::flush() {
    if (buf_.empty()) return;
    // A failed write drops the buffer, so that the destructor does not try it again.
    struct Clear {
        std::string& b;
        ~Clear() { b.clear(); }
    } clear{buf_};
    writeAll(buf_.data(), buf_.size());
}

void ByteSink::writeAll(const char* p, size_t n) {
    while (n) {
        ssize_t w = ::write(fd_, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            throw IoError("cannot write " + name_ + ": " + errnoText(errno));
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
}

bool ByteSink::isTerminal() const {
    return isatty(fd_) == 1;
}

ReplyFile::ReplyFile(const std::string& path) : sink_(ByteSink::open(path, 1)) {}

bool ReplyFile::write(const void* data, size_t n) {
    std::lock_guard<std::mutex> lock(mu_);
    try {
        sink_->write(static_cast<const char*>(data), n);
        sink_->flush();
        return true;
    } catch (const IoError&) {
        return false;
    }
}

} // namespace pt::host

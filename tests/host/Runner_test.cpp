#include "PluginHost.h"
#include "Runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace pt::host {
namespace {

class StringSource final : public ByteSource {
public:
    explicit StringSource(std::string text) : text_(std::move(text)) { name_ = "mem"; }
    size_t read(char* buf, size_t n) override {
        size_t k = std::min(n, text_.size() - pos_);
        std::memcpy(buf, text_.data() + pos_, k);
        pos_ += k;
        return k;
    }

private:
    std::string text_;
    size_t pos_ = 0;
};

// Answers a fixed result for packets whose first item is named "fail"; others pass.
class Scripted final : public PacketProcessor {
public:
    int process(Packet& packet, RowSink& sink) override {
        std::vector<FieldView> view;
        for (const Row& row : packet) {
            if (!row.empty() && row[0].name == "fail") return failWith;
            viewRow(row, view);
            sink.row(view);
        }
        return 0;
    }
    int failWith = -3;
};

struct RunResult {
    std::string out, err;
    RunEnd end;
    RunStats stats;
};

RunResult runOver(const std::string& input, Format f, PacketProcessor& proc) {
    char path[] = "/tmp/pipetask-runner-XXXXXX";
    int fd = mkstemp(path);
    RunResult r;
    {
        ByteSink sink(fd, path, true);
        StringSource src(input);
        LineReader reader(src, 64);
        auto parser = makeParser(f);
        auto writer = makeWriter(f);
        Runner runner(reader, *parser, proc, *writer, sink, Console::err(), "mem", RunSettings{});
        testing::internal::CaptureStderr();
        r.end = runner.run();
        r.err = testing::internal::GetCapturedStderr();
        r.stats = runner.stats();
    }
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    r.out = ss.str();
    unlink(path);
    return r;
}

TEST(RunnerTest, SkipsBadLinesAndCountsEverything) {
    PassThroughProcessor pass;
    RunResult r = runOver("{\"a\":1}\n{bad\n[{\"a\":2},{\"a\":3}]\n\n" + std::string(100, 'x') +
                              "\n{\"a\":4}",
                          Format::Jsonl, pass);
    EXPECT_EQ(r.end, RunEnd::Done);
    EXPECT_EQ(r.out, "{\"a\":1}\n{\"a\":2}\n{\"a\":3}\n{\"a\":4}\n");
    EXPECT_NE(r.err.find("mem:2: skipped: invalid JSON"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("mem:5: skipped: the line is longer than the limit"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.stats.lines, 6u);
    EXPECT_EQ(r.stats.packets, 3u);
    EXPECT_EQ(r.stats.rowsIn, 4u);
    EXPECT_EQ(r.stats.rowsOut, 4u);
    EXPECT_EQ(r.stats.malformed, 2u);
}

TEST(RunnerTest, FailedPacketsGoOnButACompileFailureStops) {
    Scripted proc;
    const std::string input = "{\"ok\":1}\n{\"fail\":1}\n{\"ok\":2}\n";
    RunResult r = runOver(input, Format::Jsonl, proc);
    EXPECT_EQ(r.end, RunEnd::Done);
    EXPECT_EQ(r.out, "{\"ok\":1}\n{\"ok\":2}\n");
    EXPECT_EQ(r.stats.failedPackets, 1u);

    proc.failWith = -4;
    r = runOver(input, Format::Jsonl, proc);
    EXPECT_EQ(r.end, RunEnd::CompileFailed);
    EXPECT_EQ(r.out, "{\"ok\":1}\n"); // rows written before the failure are out
}

TEST(MessageWindowTest, CoalescesPostsAndDeliversCopyDataOnTheSender) {
    std::atomic<int> logCalls{0}, eventCalls{0};
    std::thread::id copyThread;
    std::string copied;
    MessageWindow::Handlers h;
    h.logWaiting = [&] { ++logCalls; };
    h.eventsWaiting = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ++eventCalls;
    };
    h.copyData = [&](uintptr_t tag, std::string_view bytes) {
        copyThread = std::this_thread::get_id();
        copied = std::to_string(tag) + ":" + std::string(bytes);
    };
    MessageWindow w(std::move(h));
    auto* rec = reinterpret_cast<NoxMessageWindow*>(w.handle());
    ASSERT_EQ(rec->magic, NOX_MESSAGE_WINDOW_MAGIC);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(rec->post(rec, PT_WM_EVENTS_WAITING, 7, 0), 1);
    EXPECT_EQ(rec->post(rec, PT_WM_LOG_WAITING, 7, 0), 1);

    NoxCopyData cd = {PT_COPYDATA_LOG_LINE, 5, "\x03line"};
    intptr_t result = 0;
    EXPECT_EQ(rec->send(rec, PT_WM_COPYDATA, 7, reinterpret_cast<intptr_t>(&cd), 1000, &result), 1);
    EXPECT_EQ(copied, "2:\x03line");
    EXPECT_EQ(copyThread, std::this_thread::get_id());
    // A data-copy message cannot be posted: its bytes live only as long as a send.
    EXPECT_EQ(rec->post(rec, PT_WM_COPYDATA, 7, reinterpret_cast<intptr_t>(&cd)), 0);

    w.close(); // serves what was flagged before it stops
    EXPECT_EQ(logCalls.load(), 1);
    EXPECT_GE(eventCalls.load(), 1);
    EXPECT_LT(eventCalls.load(), 1000); // a flood of posts does not queue a call each
    EXPECT_EQ(rec->post(rec, PT_WM_LOG_WAITING, 7, 0), 0);
    EXPECT_EQ(rec->send(rec, PT_WM_COPYDATA, 7, reinterpret_cast<intptr_t>(&cd), 1000, &result), 0);
}

TEST(ReplyTargetTest, SendExportsReachTheRegisteredTarget) {
    std::string got;
    uint32_t tag = registerReplyTarget([&](const void* d, size_t n) {
        got.append(static_cast<const char*>(d), n);
        return true;
    });
    EXPECT_EQ(fSendString(tag, 0, 1, "ab"), 1);
    EXPECT_EQ(fSendByte(tag, 0, 1, 300), 1); // the low 8 bits: 44, ','
    EXPECT_EQ(fSendData(tag, 0, 1, "\0z", 2), 1);
    EXPECT_EQ(fSendData(tag, 0, 1, "x", 0), 0);
    EXPECT_EQ(got, std::string("ab,\0z", 5));
    unregisterReplyTarget(tag);
    EXPECT_EQ(fSendString(tag, 0, 1, "lost"), 0);
}

} // namespace
} // namespace pt::host

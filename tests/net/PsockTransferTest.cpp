#include "net/Psock.h"

#include "PsockFixture.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

using namespace psocktest;
using net::EAbortError;
using net::ESockError;
using net::TPowersock;
using testsupport::Action;
using testsupport::PatternBytes;
using testsupport::ReadFile;
using testsupport::ScriptedServer;

namespace {

std::string TempName(const std::string &stem) {
    auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    return ::testing::TempDir() + "psock_" + info->name() + "_" + stem;
}

// A component connected to a scripted connection.
struct Connected {
    ScriptedServer server;
    TPowersock sock;
    int packets = 0;
    std::vector<int64_t> progressAtPacket;

    explicit Connected(testsupport::Script script) {
        server.Expect(std::move(script));
        sock.Host = "127.0.0.1";
        sock.Port = server.Port();
        sock.OnPacketRecvd = [this](platform::TObject *) {
            ++packets;
            progressAtPacket.push_back(sock.ReceiveProgress);
        };
        sock.Connect();
    }
};

const std::string kHead = "HTTP/1.0 200 OK\r\nServer: x\r\n\r\n";

} // namespace

TEST(PsockReadLn, SplitsLinesAndKeepsBufferedBodyBytesForCaptureFile) {
    Connected c({Action::Send(kHead + "0123456789"), Action::Delay(100ms), Action::Send("ABCDE"),
                 Action::Close()});
    std::string line;
    c.sock.ReadLn(line);
    EXPECT_EQ(line, "HTTP/1.0 200 OK\r\n");
    c.sock.ReadLn(line);
    EXPECT_EQ(line, "Server: x\r\n");
    c.sock.ReadLn(line);
    EXPECT_EQ(line, "\r\n");
    std::string file = TempName("body");
    c.sock.CaptureFile(file);
    EXPECT_EQ(ReadFile(file), "0123456789ABCDE");
    EXPECT_EQ(c.sock.ReceiveProgress, 15) << "the count starts at the buffered bytes";
    ASSERT_FALSE(c.progressAtPacket.empty());
    EXPECT_EQ(c.progressAtPacket.front(), 15);
    EXPECT_FALSE(c.sock.TransferActive);
    EXPECT_FALSE(c.sock.FileTransfer);
    std::remove(file.c_str());
}

TEST(PsockReadLn, CaptureStringTakesBufferedBytesWithoutCountingThem) {
    Connected c({Action::Send(kHead + "0123456789"), Action::Delay(100ms), Action::Send("ABCDE"),
                 Action::Close()});
    std::string line;
    for (int i = 0; i < 3; ++i)
        c.sock.ReadLn(line);
    std::string body;
    c.sock.CaptureString(body, -1);
    EXPECT_EQ(body, "0123456789ABCDE");
    EXPECT_EQ(c.sock.ReceiveProgress, 5);
}

TEST(PsockReadLn, ALineWaitsForItsLineFeedAndAClosedConnectionEndsTheWait) {
    Connected c({Action::Send("one\ntwo\r\nthr"), Action::Delay(80ms), Action::Send("ee\nfour"),
                 Action::Close()});
    std::string line;
    c.sock.ReadLn(line);
    EXPECT_EQ(line, "one\n");
    c.sock.ReadLn(line);
    EXPECT_EQ(line, "two\r\n");
    c.sock.ReadLn(line);
    EXPECT_EQ(line, "three\n");
    EXPECT_EQ(ErrorOf<ESockError>([&] { c.sock.ReadLn(line); }), "Connection closed");
    std::string rest;
    c.sock.CaptureString(rest, -1);
    EXPECT_EQ(rest, "four") << "the unfinished line stays in the queue";
}

TEST(PsockCapture, CaptureStringWithACountEndsAtTheCountOrFailsOnClose) {
    Connected c(
        {Action::Send("abcdef"), Action::Delay(50ms), Action::Send("ghij"), Action::Close()});
    std::string text;
    c.sock.CaptureString(text, 8);
    EXPECT_GE(text.size(), 8u) << "whole received blocks are taken";
    EXPECT_EQ(text, std::string("abcdefghij").substr(0, text.size()));
    EXPECT_EQ(ErrorOf<ESockError>([&] { c.sock.CaptureString(text, 100); }), "Connection closed");
    EXPECT_FALSE(c.sock.TransferActive);
    c.sock.CaptureString(text, -2);
    EXPECT_EQ(text, "");
    c.sock.CaptureString(text, -1);
    EXPECT_EQ(text, "") << "closed and nothing left: returns at once";
}

TEST(PsockCapture, BytesArrivingWithTheCloseAreDrainedAndCounted) {
    const size_t size = 50000; // several chunks, all in the socket before the close is seen
    Connected c({Action::Send(PatternBytes(0, size)), Action::Close()});
    std::this_thread::sleep_for(150ms); // data and close wait together, unprocessed
    std::string file = TempName("drain");
    c.sock.CaptureFile(file);
    EXPECT_EQ(ReadFile(file), PatternBytes(0, size));
    EXPECT_EQ(c.sock.ReceiveProgress, static_cast<int64_t>(size));
    ASSERT_FALSE(c.progressAtPacket.empty());
    EXPECT_EQ(c.progressAtPacket.back(), static_cast<int64_t>(size))
        << "the drained bytes are reported like any chunk";
    std::remove(file.c_str());
}

TEST(PsockCapture, LargeBodyIsCapturedExactlyWhileItStreams) {
    const size_t size = 3 * 1000 * 1000 + 17;
    Connected c({Action::Send(PatternBytes(0, size), 65536, 1ms), Action::Close()});
    std::string file = TempName("large");
    c.sock.CaptureFile(file);
    EXPECT_EQ(c.sock.ReceiveProgress, static_cast<int64_t>(size));
    EXPECT_TRUE(ReadFile(file) == PatternBytes(0, size));
    std::remove(file.c_str());
}

// The component with its receive queue in view.
struct QueueInView : TPowersock {
    size_t Queued() { return static_cast<size_t>(ReceiveQueue.Size()); }
};

// A fast server sends the whole body right behind the header. Reading the header line by
// line must not pull megabytes of body into memory; the capture then takes it all.
TEST(PsockReadLn, AHeaderReadLeavesTheBodyInTheSocket) {
    const size_t size = 8 * 1024 * 1024;
    ScriptedServer server;
    server.Expect({Action::Send(kHead + PatternBytes(0, size)), Action::Close()});
    QueueInView sock;
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    sock.Connect();
    std::this_thread::sleep_for(200ms); // the socket buffers fill meanwhile
    std::string line;
    for (int i = 0; i < 3; ++i)
        sock.ReadLn(line);
    EXPECT_EQ(line, "\r\n");
    EXPECT_LE(sock.Queued(), 2u * 65536) << "body bytes read ahead into memory";

    std::string file = TempName("ahead");
    sock.CaptureFile(file);
    EXPECT_EQ(sock.ReceiveProgress, static_cast<int64_t>(size));
    EXPECT_TRUE(ReadFile(file) == PatternBytes(0, size));
    std::remove(file.c_str());
}

// Bytes waiting in the socket are taken in passes of several receives and reported once per
// pass, at most 1 MiB at a time, and the reports add up to the body.
TEST(PsockCapture, WaitingBytesAreReportedInLargeChunksThatAddUp) {
    const size_t size = 6 * 1024 * 1024 + 5;
    Connected c({Action::Send(PatternBytes(0, size)), Action::Close()});
    std::this_thread::sleep_for(200ms);
    std::string file = TempName("chunks");
    c.sock.CaptureFile(file);
    EXPECT_TRUE(ReadFile(file) == PatternBytes(0, size));
    ASSERT_FALSE(c.progressAtPacket.empty());
    EXPECT_EQ(c.progressAtPacket.back(), static_cast<int64_t>(size));
    int64_t previous = 0, largest = 0;
    for (int64_t at : c.progressAtPacket) {
        largest = std::max(largest, at - previous);
        previous = at;
    }
    EXPECT_LE(largest, 1024 * 1024);
    EXPECT_GT(largest, 65536) << "every receive was reported on its own";
    std::remove(file.c_str());
}

TEST(PsockCapture, FileThatCannotBeCreatedClearsTheTransferState) {
    Connected c({Action::Send("data"), Action::Stall()});
    EXPECT_NE(ErrorOf<net::EFileStreamError>(
                  [&] { c.sock.CaptureFile("/nonexistent-dir/x/capture.bin"); }),
              "");
    EXPECT_FALSE(c.sock.TransferActive);
    EXPECT_FALSE(c.sock.FileTransfer);
    std::string text;
    c.sock.CaptureString(text, 4);
    EXPECT_EQ(text, "data") << "the receive queue is back in place";
    EXPECT_NE(
        ErrorOf<net::EFileStreamError>([&] { c.sock.SendFile("/nonexistent-dir/x/send.bin"); }),
        "");
    EXPECT_FALSE(c.sock.TransferActive);
    EXPECT_FALSE(c.sock.FileTransfer);
}

TEST(PsockWrite, WriteAndWritelnSendExactBytes) {
    Connected c({Action::Stall()});
    c.sock.Writeln("GET");
    c.sock.Write(std::string("be\0fore", 7));
    c.sock.Write("");
    ASSERT_TRUE(c.server.WaitForReceived(0, 7, 2s));
    PumpFor(20ms);
    EXPECT_EQ(c.server.Received(0), "GET\r\nbe") << "a text is cut at its first zero byte";
}

TEST(PsockWrite, WritelnReportsInOrder) {
    Connected c({Action::Stall()});
    EventLog log;
    log.Attach(c.sock);
    c.sock.ReportLevel = 8;
    c.sock.Writeln("x");
    auto entries = log.Without("WriteFromStream");
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(entries.begin(), entries.begin() + 3),
              (std::vector<std::string>{"Writeln", "Write", "Sending Buffer"}));
}

TEST(PsockWrite, LongTextIsSentWhole) {
    Connected c({Action::Stall()});
    std::string text = PatternBytes(0, 100000);
    for (auto &ch : text)
        ch = ch == 0 ? 'z' : ch; // no zero bytes
    c.sock.Write(text);
    ASSERT_TRUE(c.server.WaitForReceived(0, text.size(), 3s));
    EXPECT_EQ(c.server.Received(0), text);
    EXPECT_EQ(c.sock.SendProgress, static_cast<int64_t>(text.size()));
}

TEST(PsockWrite, SendFileSendsTheFileAndAnEmptyFileReturnsAtOnce) {
    std::string name = TempName("send");
    std::string content = PatternBytes(5, 70000);
    std::ofstream(name, std::ios::binary) << content;
    Connected c({Action::Stall()});
    int sent = 0;
    c.sock.OnPacketSent = [&](platform::TObject *) { ++sent; };
    c.sock.SendFile(name);
    ASSERT_TRUE(c.server.WaitForReceived(0, content.size(), 3s));
    EXPECT_EQ(c.server.Received(0), content);
    EXPECT_EQ(c.sock.SendProgress, 70000);
    EXPECT_EQ(c.sock.TransferSize, 70000);
    EXPECT_GE(sent, 5) << "one OnPacketSent per chunk";
    std::ofstream(name, std::ios::trunc | std::ios::binary);
    c.sock.SendFile(name);
    EXPECT_EQ(c.sock.TransferSize, 0);
    std::remove(name.c_str());
}

TEST(PsockWrite, SendingOnAClosedOrResetConnectionFails) {
    Connected c({Action::Reset()});
    ASSERT_TRUE(PumpUntil([&] { return !c.sock.IsConnected; }));
    EXPECT_EQ(ErrorOf<ESockError>([&] { c.sock.Writeln("hello"); }), "Connection closed");
    // Nothing stale goes out on the next connection.
    c.server.Expect({Action::ReadRequest(), Action::Close()});
    c.sock.Connect();
    c.sock.Write("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(c.server.WaitForReceived(1, 18, 2s));
    EXPECT_EQ(c.server.Received(1), "GET / HTTP/1.0\r\n\r\n");
}

TEST(PsockCancel, EachDataWaitEndsWithItsAbortText) {
    {
        Connected c({Action::Send("partial"), Action::Stall()});
        CancelLater cancel(c.sock, 60ms);
        std::string line;
        EXPECT_EQ(ErrorOf<EAbortError>([&] { c.sock.ReadLn(line); }), "Socket readln aborted");
        EXPECT_TRUE(c.sock.CancelRequested) << "ReadLn leaves the flag set";
    }
    {
        Connected c({Action::Stall()});
        CancelLater cancel(c.sock, 60ms);
        std::string text;
        EXPECT_EQ(ErrorOf<EAbortError>([&] { c.sock.CaptureString(text, -1); }),
                  "Socket capture aborted");
        EXPECT_FALSE(c.sock.CancelRequested);
        EXPECT_FALSE(c.sock.TransferActive);
    }
    {
        Connected c({Action::Send("first bytes"), Action::Stall()});
        std::string file = TempName("cancelled");
        {
            CancelLater cancel(c.sock, 100ms);
            EXPECT_EQ(ErrorOf<EAbortError>([&] { c.sock.CaptureFile(file); }),
                      "Socket send aborted");
        }
        EXPECT_EQ(ReadFile(file), "first bytes") << "the partial file stays";
        EXPECT_FALSE(c.sock.CancelRequested);
        std::remove(file.c_str());
    }
}

TEST(PsockCancel, SendBufferWaitingForRoomIsCancelled) {
    SilentListener silent;
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = silent.Port();
    s.Connect();
    silent.AcceptOne(); // and never reads
    std::string block(16384, 'x');
    CancelLater cancel(s, 200ms);
    std::string error;
    for (int i = 0; i < 200000 && error.empty(); ++i) // bounded: buffers fill long before
        error = ErrorOf<EAbortError>([&] { s.Write(block); });
    EXPECT_EQ(error, "Socket send aborted");
    EXPECT_FALSE(s.CancelRequested);
}

TEST(PsockCancel, ACancelBeforeSendBufferSendsNothing) {
    Connected c({Action::Stall()});
    c.sock.Cancel();
    c.sock.Writeln("not sent");
    EXPECT_TRUE(c.sock.CancelRequested);
    PumpFor(30ms);
    EXPECT_EQ(c.server.Received(0), "");
}

TEST(PsockStall, ADataWaitWithNoBytesForTheTimeOutEndsAsATimeOut) {
    Connected c({Action::Send("no line feed"), Action::Stall()});
    c.sock.TimeOut = 150;
    auto start = steady_clock::now();
    std::string line;
    EXPECT_EQ(ErrorOf<EAbortError>([&] { c.sock.ReadLn(line); }), "Socket readln aborted");
    EXPECT_GE(steady_clock::now() - start, 140ms);
    EXPECT_LT(steady_clock::now() - start, 1500ms);
    EXPECT_TRUE(c.sock.TimedOut);
}

TEST(PsockStall, ATrickleSlowerThanTheTimeOutOverallIsNotAStall) {
    std::string body = PatternBytes(0, 12);
    Connected c({Action::Send(body, 2, 60ms), Action::Close()}); // 6 slices over ~300 ms
    c.sock.TimeOut = 150;
    std::string text;
    c.sock.CaptureString(text, -1);
    EXPECT_EQ(text, body);
    EXPECT_FALSE(c.sock.TimedOut);
}

TEST(PsockStall, WithoutATimeOutAStalledCaptureWaitsUntilCancelled) {
    Connected c({Action::Stall()});
    std::string file = TempName("nostall");
    CancelLater cancel(c.sock, 300ms);
    auto start = steady_clock::now();
    EXPECT_EQ(ErrorOf<EAbortError>([&] { c.sock.CaptureFile(file); }), "Socket send aborted");
    EXPECT_GE(steady_clock::now() - start, 290ms);
    EXPECT_FALSE(c.sock.TimedOut);
    std::remove(file.c_str());
}

TEST(PsockTransaction, ReplyNumberFromTheLeadingDigits) {
    Connected c({Action::ReadRequest(), Action::Send("250 fine\r\n"), Action::Stall()});
    std::string reply;
    c.sock.Transaction("HELO\r\n", reply);
    EXPECT_EQ(reply, "250 fine\r\n");
    EXPECT_EQ(c.sock.ReplyNumber, 250);
    EXPECT_EQ(c.server.Received(0), "HELO\r\n\r\n");
}

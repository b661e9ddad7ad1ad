#pragma once

// Helpers of the worker tests: workers run against a range server while the test's main
// thread pumps its queue, delivering their reports.

#include "engine/Thread.h"
#include "platform/NotifyQueue.h"
#include "tests/support/RangeServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace workertest {

using namespace std::chrono;
using namespace std::chrono_literals;
using engine::HttpThread;
using engine::NoByteChange;
using testsupport::RangeFault;
using testsupport::RangeServer;
using testsupport::SeenRequest;

struct Report {
    int worker;
    int64_t bytes;
    std::string text;
    int level;
};

class Workers : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetMainThread(); }
    void TearDown() override {
        // A finished worker's pieces are the test's to remove; a running one is stopped by
        // its destruction and removes its own (its list is not to be read meanwhile).
        for (auto &w : workers)
            if (w->Finished)
                for (auto &piece : w->PieceFiles)
                    std::filesystem::remove(piece);
        workers.clear();
    }

    // Starts a worker on the server for bytes start..end, naming it `hostName`.
    HttpThread &Start(const RangeServer &server, int64_t start, int64_t end,
                      int64_t maximum = -1, bool suspended = false,
                      const std::string &hostName = "127.0.0.1") {
        int index = static_cast<int>(workers.size()) + 1;
        auto report = [this, index](platform::TObject *, int64_t b, const std::string &t,
                                    int32_t l) {
            reports.push_back({index, b, t, l});
            if (onReport)
                onReport(reports.back());
        };
        auto onDone = [this](platform::TThread *) { ++ended; };
        workers.push_back(std::make_unique<HttpThread>(
            start, end, maximum, "setup.exe", "http",
            hostName + ":" + std::to_string(server.Port()), "dir", "", 0, index, report, onDone,
            true));
        HttpThread &w = *workers.back();
        w.AttemptWait = attemptWait;
        w.ClientTimeOut = clientTimeOut;
        if (!suspended)
            w.ResumeTransfer();
        return w;
    }

    template <typename P> bool PumpUntil(P pred, milliseconds limit = 20s) {
        auto end = steady_clock::now() + limit;
        while (!pred() && steady_clock::now() < end)
            platform::SleepAndProcess(2);
        return pred();
    }

    int64_t BytesReported(int worker = 0) const {
        int64_t sum = 0;
        for (auto &r : reports)
            if ((worker == 0 || r.worker == worker) && r.bytes != NoByteChange)
                sum += r.bytes;
        return sum;
    }
    int Count(const std::string &text) const {
        int n = 0;
        for (auto &r : reports)
            n += r.text == text;
        return n;
    }
    static std::string Join(const std::vector<std::string> &pieces) {
        std::string all;
        for (auto &p : pieces) {
            std::ifstream in(p, std::ios::binary);
            all.append((std::istreambuf_iterator<char>(in)), {});
        }
        return all;
    }

    // Settings of the workers Start makes (set before the thread runs).
    milliseconds attemptWait = 20ms;
    int32_t clientTimeOut = 2000;
    std::vector<std::unique_ptr<HttpThread>> workers;
    std::vector<Report> reports;
    // Runs on the main thread for each report, after it is recorded (the worker waits).
    std::function<void(const Report &)> onReport;
    int ended = 0;
};

inline const char *kRetrying = "Error communicating with server. Retrying...";

} // namespace workertest

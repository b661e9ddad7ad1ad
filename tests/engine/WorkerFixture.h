#pragma once

// Helpers of the worker tests: workers of one plan run against range servers, writing into a
// file of the test's own, while the test's main thread pumps its queue, delivering their
// reports.

#include "engine/Thread.h"
#include "platform/NotifyQueue.h"
#include "tests/support/RangeServer.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace workertest {

using namespace std::chrono;
using namespace std::chrono_literals;
using engine::Failure;
using engine::FailureKind;
using engine::FailureOutcome;
using engine::HttpThread;
using engine::Location;
using engine::NoByteChange;
using engine::TransferPlan;
using testsupport::RangeFault;
using testsupport::RangeServer;
using testsupport::SeenRequest;

struct Report {
    int worker;
    int64_t bytes;
    std::string text;
    int level;
};

struct FailureReport {
    int worker;
    Failure failure;
    FailureOutcome outcome;
};

class Workers : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetMainThread();
        auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = (std::filesystem::path(::testing::TempDir()) /
               (std::string("workers_") + info->name() + "_" + std::to_string(::getpid())))
                  .string() +
              "/";
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        workers.clear(); // they end before the plan and the file they use
        sink.reset();
        plan.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    static Location At(const RangeServer &server, const std::string &host = "127.0.0.1") {
        return Location{host + ":" + std::to_string(server.Port()), "dir/", 0};
    }
    // The plan for a file of `size` bytes from `locations`, in `ranges`, and its file.
    void Plan(int64_t size, std::vector<Location> locations,
              const std::vector<std::pair<int64_t, int64_t>> &ranges) {
        plan = std::make_unique<TransferPlan>(size, std::move(locations), ranges);
        sink = std::make_unique<engine::FileSink>();
        ASSERT_FALSE(sink->Open(dir, size).has_value());
    }
    // Starts the plan's worker `index` (1-based).
    HttpThread &Start(int index, bool suspended = false) {
        engine::WorkerSettings settings;
        settings.Protocol = "http";
        settings.FileName = "setup.exe";
        settings.MaximumRequestLength = maximum;
        settings.AttemptWait = attemptWait;
        settings.ClientTimeOut = clientTimeOut;
        auto report = [this, index](platform::TObject *, int64_t b, const std::string &t,
                                    int32_t l) {
            reports.push_back({index, b, t, l});
            if (onReport)
                onReport(reports.back());
        };
        auto onDone = [this](platform::TThread *) { ++ended; };
        workers.push_back(
            std::make_unique<HttpThread>(*plan, *sink, settings, index, report, onDone, true));
        HttpThread &w = *workers.back();
        w.OnAttemptFailed = [this](HttpThread *worker, const Failure &f, FailureOutcome o) {
            failures.push_back({worker->WorkerIndex, f, o});
        };
        w.OnOneStream = [this](HttpThread *worker) { oneStream = worker->WorkerIndex; };
        if (!suspended)
            w.ResumeTransfer();
        return w;
    }
    // One worker for bytes first..last of a file of `size` bytes from `server`.
    HttpThread &StartOne(const RangeServer &server, int64_t size, int64_t first, int64_t last) {
        Plan(size, {At(server)}, {{first, last}});
        return Start(1);
    }
    // Every worker of a plan of `size` bytes in `count` ranges from `locations`.
    void StartAll(int64_t size, std::vector<Location> locations, int count) {
        Plan(size, std::move(locations), TransferPlan::Ranges(size, count));
        for (int i = 1; i <= count; ++i)
            Start(i);
    }

    template <typename P> bool PumpUntil(P pred, milliseconds limit = 20s) {
        auto end = steady_clock::now() + limit;
        while (!pred() && steady_clock::now() < end)
            platform::SleepAndProcess(2);
        return pred();
    }
    int Count(const std::string &text) const {
        int n = 0;
        for (auto &r : reports)
            n += r.text == text;
        return n;
    }
    // The file as written, once the workers have ended (closed first: on Windows an open
    // working file cannot be read by others).
    std::string Written() const {
        sink->Close();
        return testsupport::ReadFile(std::filesystem::path(sink->Path()));
    }

    std::string dir;
    // Settings of the workers Start makes.
    milliseconds attemptWait = 20ms;
    int32_t clientTimeOut = 2000;
    int64_t maximum = -1;
    std::unique_ptr<TransferPlan> plan;
    std::unique_ptr<engine::FileSink> sink;
    std::vector<std::unique_ptr<HttpThread>> workers;
    std::vector<Report> reports;
    std::vector<FailureReport> failures;
    // Runs on the main thread for each report, after it is recorded (the worker waits).
    std::function<void(const Report &)> onReport;
    int oneStream = 0;
    int ended = 0;
};

} // namespace workertest

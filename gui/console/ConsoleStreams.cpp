#include "gui/console/ConsoleStreams.h"

#include "platform/StopRequests.h"
#include "platform/Terminal.h"

#include <cstdio>

namespace gui {
namespace {

class StandardStreams final : public ConsoleStreams {
  public:
    // Input unbuffered: a line the C library read ahead would be waiting where the check for
    // waiting input does not look.
    StandardStreams() { std::setvbuf(stdin, nullptr, _IONBF, 0); }
    void Write(const std::string &text) override {
        platform::WriteStandard(platform::StandardStream::Output, text);
    }
    bool InputWaiting() override { return platform::StandardInputWaiting(); }
    bool ReadLine(std::string &line) override { return platform::ReadStandardLine(line); }
    bool IsStandardInput() const override { return true; }
    int Columns() const override { return platform::TerminalColumns(); }
};

} // namespace

std::unique_ptr<ConsoleStreams> StandardConsoleStreams() {
    return std::make_unique<StandardStreams>();
}

} // namespace gui

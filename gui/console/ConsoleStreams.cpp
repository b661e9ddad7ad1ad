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
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
    bool InputWaiting() override { return platform::StandardInputWaiting(); }
    bool ReadLine(std::string &line) override {
        line.clear();
        for (int c; (c = std::fgetc(stdin)) != EOF;) {
            if (c == '\n') {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                return true;
            }
            line += static_cast<char>(c);
        }
        return !line.empty();
    }
    bool IsStandardInput() const override { return true; }
    int Columns() const override { return platform::TerminalColumns(); }
};

} // namespace

std::unique_ptr<ConsoleStreams> StandardConsoleStreams() {
    return std::make_unique<StandardStreams>();
}

} // namespace gui

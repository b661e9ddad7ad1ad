#pragma once

#include <memory>
#include <string>

namespace gui {

// Where the console front end writes its lines and reads its answers: standard output and
// input in the program, a test's text in the tests.
class ConsoleStreams {
  public:
    virtual ~ConsoleStreams() = default;
    // Writes `text` at once (no buffering left behind).
    virtual void Write(const std::string &text) = 0;
    // Whether a line can be read now without waiting for it.
    virtual bool InputWaiting() = 0;
    // Reads a line without its line end; false at the end of the input.
    virtual bool ReadLine(std::string &line) = 0;
    // Whether the input is the process's standard input (whose echo can be turned off).
    virtual bool IsStandardInput() const { return false; }
    // The width of the terminal written to, in columns.
    virtual int Columns() const { return 80; }
};

// Standard output and input (platform/Terminal.h).
std::unique_ptr<ConsoleStreams> StandardConsoleStreams();

} // namespace gui

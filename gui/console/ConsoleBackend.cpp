#include "gui/console/ConsoleBackend.h"

#include "gui/Application.h"
#include "gui/Controls.h"
#include "gui/Form.h"
#include "gui/PlainText.h"
#include "gui/SelectBackend.h"
#include "gui/TextFit.h"
#include "platform/NotifyQueue.h"
#include "platform/StopRequests.h"
#include "platform/Terminal.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace gui {

namespace {

// Line ends of every kind become spaces, so that a text stays on one line.
std::string OneLine(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

ConsoleBackend::ConsoleBackend(std::unique_ptr<ConsoleStreams> streams, bool outputIsTerminal,
                               bool interactive)
    : streams_(std::move(streams)), terminal_(outputIsTerminal), interactive_(interactive) {}

ConsoleBackend::~ConsoleBackend() {
    if (pending_)
        Render(true);
    EndLine();
}

std::string ConsoleBackend::CurrentLine() const {
    std::string line = caption_;
    if (!status_.empty())
        line += " - " + status_;
    std::string rate = RateText();
    if (!rate.empty())
        line += " [" + rate + "]";
    return line;
}

void ConsoleBackend::ControlChanged(Control &control, Property what) {
    Form &form = control.OwnerForm();
    if (&form != form.App().MainForm())
        return;
    if (what == Property::Progress && control.Kind() == ControlKind::ProgressBar) {
        auto &bar = static_cast<ProgressBar &>(control);
        NoteProgress(bar.Position() - bar.Min(), bar.Max() - bar.Min());
        Render(false);
        return;
    }
    if (what != Property::Caption || control.Kind() != ControlKind::Label)
        return;
    status_ = OneLine(control.Caption());
    // Without a terminal each new status text is kept on a line of its own.
    Render(!terminal_);
}

void ConsoleBackend::NoteProgress(int64_t position, int64_t maximum) {
    auto now = std::chrono::steady_clock::now();
    if (maximum != maximum_ ||
        (!samples_.empty() && position < samples_.back().second && position == 0)) {
        samples_.clear(); // a new range, or a fresh start
        maximum_ = maximum;
    }
    // One sample per 50 ms is plenty for the rate; between them the newest one moves.
    if (samples_.size() >= 2 &&
        now - samples_[samples_.size() - 2].first < std::chrono::milliseconds(50))
        samples_.back() = {now, position};
    else
        samples_.emplace_back(now, position);
    // The rate over the last five seconds follows changes without jumping at every chunk.
    while (samples_.size() > 2 && now - samples_.front().first > std::chrono::seconds(5))
        samples_.pop_front();
}

std::string ConsoleBackend::RateText() const {
    if (samples_.size() < 2 || maximum_ <= 0)
        return {};
    const auto &[t0, p0] = samples_.front();
    const auto &[t1, p1] = samples_.back();
    const double seconds = std::chrono::duration<double>(t1 - t0).count();
    if (seconds < 0.2 || p1 <= p0 || p1 >= maximum_)
        return {};
    const double rate = static_cast<double>(p1 - p0) / seconds; // bytes per second
    const auto left = static_cast<long long>(static_cast<double>(maximum_ - p1) / rate + 0.5);
    char text[64];
    std::snprintf(text, sizeof text, "%.1f MB/s, %lld:%02lld left", rate / 1e6, left / 60,
                  left % 60);
    return text;
}

void ConsoleBackend::FormChanged(Form &form, Property what) {
    if (what != Property::Caption || &form != form.App().MainForm())
        return;
    caption_ = OneLine(form.Caption());
    Render(false);
}

void ConsoleBackend::ShowForm(Form &form) {
    if (&form == form.App().MainForm()) {
        started_ = true;
        Render(true);
    }
}

void ConsoleBackend::HideForm(Form &form) {
    if (&form == form.App().MainForm())
        mainClosed_ = true;
}

void ConsoleBackend::Render(bool force) {
    if (!started_)
        return;
    if (prompting_) {
        pending_ = true;
        return;
    }
    auto now = std::chrono::steady_clock::now();
    auto interval = terminal_ ? std::chrono::milliseconds(100) : std::chrono::milliseconds(1000);
    if (!force && lastRender_.time_since_epoch().count() != 0 && now - lastRender_ < interval) {
        pending_ = true; // shown by the loop once the interval has passed
        return;
    }
    std::string line = CurrentLine();
    if (line == shown_) {
        pending_ = false;
        return;
    }
    if (terminal_) {
        // Rewritten in place: back to the line's start, the new line, then blanks over what
        // is left of the longer line before. No escape sequence: every console takes this,
        // also one that would print them (wine's). One column stays free, so that the
        // terminal never wraps to a new line.
        const std::size_t columns =
            static_cast<std::size_t>(std::max(2, platform::TerminalColumns()));
        const std::string fitted = ShortenInMiddle(
            line, [columns](const std::string &text) { return CharacterCount(text) < columns; });
        const std::size_t width = CharacterCount(fitted);
        streams_->Write("\r" + fitted +
                        std::string(shownWidth_ > width ? shownWidth_ - width : 0, ' '));
        shownWidth_ = width;
        lineOpen_ = true;
    } else {
        streams_->Write(line + "\n");
    }
    shown_ = line;
    pending_ = false;
    lastRender_ = now;
}

void ConsoleBackend::EndLine() {
    if (lineOpen_) {
        streams_->Write("\n");
        lineOpen_ = false;
        shownWidth_ = 0;
    }
}

void ConsoleBackend::RunModal(Form &form) {
    form.Close();
}

void ConsoleBackend::Run(Form &main) {
    Render(true);
    while (main.Visible()) {
        ProcessMessages();
        // Waits for calls handed over by worker threads (and for a stop request), and runs
        // them at once.
        platform::SleepAndDispatch(10);
    }
    Render(true);
    EndLine();
}

bool ConsoleBackend::WaitForAnswer() {
    // A stream of the program's own (a test's) has its text at hand; standard input is
    // watched while the calls of other threads go on.
    while (!mainClosed_) {
        if (streams_->InputWaiting())
            return true;
        platform::SleepAndDispatch(10);
    }
    return false;
}

void ConsoleBackend::ProcessMessages() {
    if (pending_)
        Render(false);
}

MessageResult ConsoleBackend::ShowMessage(const std::string &text, const std::string &caption,
                                          MessageButtons buttons) {
    EndLine();
    shown_.clear(); // the status line is shown again after the box
    int count = 0;
    const char *const *labels = MessageButtonLabels(buttons, count);
    std::string prompt;
    for (int i = 0; i < count; ++i) {
        // "[Y]es / [N]o / [C]ancel": the letter that answers, then the rest of the caption.
        std::string label = StripAccelerator(labels[i]);
        prompt += std::string(i ? " / " : "") + "[" + label.substr(0, 1) + "]" + label.substr(1);
    }
    streams_->Write("\n== " + caption + " ==\n" + PlainLineEnds(text) + "\n");

    int chosen = 0;
    if (interactive_ && count > 1) {
        prompting_ = true;
        for (int attempt = 0; attempt < 10; ++attempt) {
            streams_->Write(prompt + " (Enter: " + StripAccelerator(labels[0]) + ")? ");
            if (!WaitForAnswer()) {
                chosen = count - 1; // the program is ending: the most cautious answer
                streams_->Write("\n");
                break;
            }
            std::string answer;
            if (!streams_->ReadLine(answer) || answer.empty())
                break; // end of input or Enter: the default button
            char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(answer[0])));
            int found = -1;
            for (int i = 0; i < count; ++i) {
                char key = AcceleratorOf(labels[i]);
                if (!key)
                    key = static_cast<char>(std::tolower(static_cast<unsigned char>(labels[i][0])));
                if (key == letter)
                    found = i;
            }
            if (found >= 0) {
                chosen = found;
                break;
            }
        }
        prompting_ = false;
    } else {
        streams_->Write(prompt + ": " + StripAccelerator(labels[0]) + "\n");
    }
    Render(true);
    return MessageButtonResult(buttons, chosen);
}

bool ConsoleBackend::AskLine(const std::string &prompt, bool hidden, std::string &line) {
    if (!interactive_)
        return false;
    EndLine();
    shown_.clear();
    prompting_ = true;
    streams_->Write(prompt);
    const bool silent = hidden && streams_->IsStandardInput() && platform::SetInputEcho(false);
    const bool answered = WaitForAnswer() && streams_->ReadLine(line);
    if (silent)
        platform::SetInputEcho(true);
    if (hidden || !answered)
        streams_->Write("\n"); // the Enter that was not echoed
    prompting_ = false;
    Render(true);
    return answered;
}

std::unique_ptr<Backend> CreateConsoleBackend() {
    return std::make_unique<ConsoleBackend>(StandardConsoleStreams(),
                                            platform::IsTerminal(platform::StandardStream::Output),
                                            platform::IsTerminal(platform::StandardStream::Input));
}

} // namespace gui

#include "gui/console/ConsoleBackend.h"

#include "gui/Application.h"
#include "gui/Controls.h"
#include "gui/Form.h"
#include "gui/PlainText.h"
#include "gui/SelectBackend.h"
#include "gui/TextFit.h"
#include "platform/Catalogue.h"
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

// The length of the UTF-8 character that starts at `at` of `text` (1 for a stray byte).
std::size_t CharacterLength(const std::string &text, std::size_t at) {
    std::size_t end = at + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        ++end;
    return end - at;
}

// Where a button's label has the character that answers for it: the one after its "&" (its
// access key), else the first. Returns its place in the label without the "&"s.
std::size_t AnswerPlace(const std::string &label) {
    std::size_t shown = 0;
    for (std::size_t i = 0; i + 1 < label.size(); ++i) {
        if (label[i] == '&') {
            if (label[i + 1] != '&')
                return shown;
            ++i; // "&&" shows one "&"
        }
        ++shown;
    }
    return 0;
}

// The character at `at` of `text`, in lower case when it is a letter of ASCII.
std::string LowerCharacterAt(const std::string &text, std::size_t at) {
    std::string character = text.substr(at, CharacterLength(text, at));
    for (char &c : character)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return character;
}

// The character that answers for a button, in lower case.
std::string AnswerKey(const std::string &label) {
    return LowerCharacterAt(StripAccelerator(label), AnswerPlace(label));
}

// A button's label as the console's question shows it: the character that answers in
// brackets ("&Yes" is "[Y]es", "C&ancel" "C[a]ncel", "Cancel" "[C]ancel").
std::string AnswerLabel(const std::string &label) {
    const std::string shown = StripAccelerator(label);
    if (shown.empty())
        return shown;
    const std::size_t at = AnswerPlace(label);
    const std::size_t length = CharacterLength(shown, at);
    return shown.substr(0, at) + "[" + shown.substr(at, length) + "]" + shown.substr(at + length);
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
    // The bar's figures first (bytes, speed, time left), else the caption; then the status.
    std::string line = figures_.empty() ? caption_ : figures_;
    if (!status_.empty())
        line += (line.empty() ? "" : " - ") + status_;
    return line;
}

std::string ConsoleBackend::FitLine(std::size_t width) const {
    auto fits = [width](const std::string &text) { return CharacterCount(text) <= width; };
    const std::string line = CurrentLine();
    if (fits(line))
        return line;
    // The status gives way first (shortened in the middle): the figures stay whole.
    const std::string head = figures_.empty() ? caption_ : figures_;
    if (!head.empty() && !status_.empty() && CharacterCount(head) + 6 <= width) {
        const std::size_t room = width - CharacterCount(head) - 3;
        return head + " - " + ShortenInMiddle(status_, [room](const std::string &text) {
                   return CharacterCount(text) <= room;
               });
    }
    return ShortenInMiddle(line, fits);
}

void ConsoleBackend::ControlChanged(Control &control, Property what) {
    Form &form = control.OwnerForm();
    if (&form != form.App().MainForm() || what != Property::Caption ||
        control.Kind() != ControlKind::Label)
        return;
    // A label that names the progress bar gives its figures: at most one line a second
    // without a terminal, like the progress.
    const Control *names = static_cast<Label &>(control).FocusControl();
    if (names && names->Kind() == ControlKind::ProgressBar) {
        figures_ = OneLine(control.Caption());
        Render(false);
        return;
    }
    status_ = OneLine(control.Caption());
    // Without a terminal each new status text is kept on a line of its own.
    Render(!terminal_);
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
        const int columns = std::max(2, streams_->Columns());
        const std::string fitted = FitLine(static_cast<std::size_t>(columns - 1));
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
    // "[Y]es / [N]o / [C]ancel": the buttons with the characters that answer for them.
    std::string answers;
    for (int i = 0; i < count; ++i)
        answers += (i ? " / " : "") + AnswerLabel(labels[i]);
    const std::string first = StripAccelerator(labels[0]);
    streams_->Write("\n== " + caption + " ==\n" + PlainLineEnds(text) + "\n");

    int chosen = 0;
    if (interactive_ && count > 1) {
        prompting_ = true;
        for (int attempt = 0; attempt < 10; ++attempt) {
            // TRANSLATORS: the console's question for a message box: %1 the answers ("[Y]es /
            // [N]o"), %2 the answer the Enter key gives.
            streams_->Write(platform::Fill(platform::Tr("%1 (Enter: %2)?"), {answers, first}) +
                            " ");
            if (!WaitForAnswer()) {
                chosen = count - 1; // the program is ending: the most cautious answer
                streams_->Write("\n");
                break;
            }
            std::string answer;
            if (!streams_->ReadLine(answer) || answer.empty())
                break; // end of input or Enter: the default button
            const std::string letter = LowerCharacterAt(answer, 0);
            int found = -1;
            for (int i = 0; i < count; ++i)
                if (AnswerKey(labels[i]) == letter)
                    found = i;
            if (found >= 0) {
                chosen = found;
                break;
            }
        }
        prompting_ = false;
    } else {
        // TRANSLATORS: the console's message box where nobody can answer: %1 the answers
        // ("[Y]es / [N]o"), %2 the one taken.
        streams_->Write(platform::Fill(platform::Tr("%1: %2"), {answers, first}) + "\n");
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

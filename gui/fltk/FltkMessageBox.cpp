#include "gui/fltk/FltkMessageBox.h"

#include "gui/fltk/FltkDrawing.h"
#include "gui/fltk/FltkFontSize.h"
#include "gui/fltk/FltkWidgets.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Scroll.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <string>
#include <vector>

namespace gui::fltk {

namespace {

constexpr int kMargin = 16;        // around the text
constexpr int kEdge = 12;          // right of and below the buttons
constexpr int kMaxTextWidth = 560; // longer lines are wrapped
constexpr int kMinWidth = 240;
constexpr int kScreenRoom = 64; // kept free for the window manager's title bar and panels
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kGap = 8;

struct BoxState {
    Fl_Double_Window *window = nullptr;
    int chosen = -1;
};

struct ButtonData {
    BoxState *state;
    int index;
};

void OnButton(Fl_Widget *, void *data) {
    auto *button = static_cast<ButtonData *>(data);
    button->state->chosen = button->index;
    button->state->window->hide();
}

void OnClose(Fl_Widget *window, void *) {
    window->hide();
}

// Enter presses the focused button (the first one until Tab moves on).
class MessageWindow : public Fl_Double_Window {
  public:
    using Fl_Double_Window::Fl_Double_Window;
    int handle(int event) override {
        return EnterPressesFocusedButton(this, event) ? 1 : Fl_Double_Window::handle(event);
    }
};

// The answer of Escape and of the close box: the box's last, most cautious button.
int EscapeIndex(int count) {
    return count - 1;
}

bool Continues(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The length of the longest start of `word` that fits `width` pixels in the current font:
// whole UTF-8 characters, at least one.
std::size_t FittingStart(const std::string &word, int width) {
    std::size_t end = 0;
    while (end < word.size()) {
        std::size_t next = end + 1;
        while (next < word.size() && Continues(word[next]))
            ++next;
        if (end > 0 && fl_width(word.c_str(), static_cast<int>(next)) > width)
            break;
        end = next;
    }
    return end;
}

// The text with its lines broken at spaces so that none is wider than `width` pixels in the
// current font; a word wider than that alone (a long URL or path) is broken where it reaches
// the edge.
std::string WrapToWidth(const std::string &text, int width) {
    auto fits = [width](const std::string &line) { return fl_width(line.c_str()) <= width; };
    std::string out;
    for (std::size_t start = 0;;) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string line;
        bool started = false;
        for (std::size_t wordStart = start; wordStart <= end;) {
            const std::size_t wordEnd = std::min(text.find(' ', wordStart), end);
            std::string word = text.substr(wordStart, wordEnd - wordStart);
            wordStart = wordEnd + 1;
            if (started && fits(line + ' ' + word)) {
                line += ' ' + word;
                continue;
            }
            if (started)
                out += line + '\n';
            while (!fits(word)) {
                const std::size_t cut = FittingStart(word, width);
                out += word.substr(0, cut) + '\n';
                word.erase(0, cut);
            }
            line = word;
            started = true;
        }
        out += line;
        if (end == text.size())
            return out;
        out += '\n';
        start = end + 1;
    }
}

} // namespace

MessageResult RunMessageBox(const std::string &text, const std::string &caption,
                            MessageButtons buttons, const std::function<bool()> &ended) {
    int count = 0;
    const char *const *labels = MessageButtonLabels(buttons, count);
    if (ended())
        return MessageButtonResult(buttons, EscapeIndex(count));

    fl_font(FL_HELVETICA, kFontSize);
    const std::string body = WrapToWidth(PlainLineEnds(text), kMaxTextWidth);
    int textWidth = 0, textHeight = 0;
    fl_measure(body.c_str(), textWidth, textHeight, 0);
    textWidth += 6; // FLTK keeps 3 pixels free at each side of a label
    // A text taller than the screen has room for scrolls.
    const int below = kMargin + kButtonHeight + kEdge;
    const int room = std::max(Fl::h() - kScreenRoom - kMargin - below, 4 * fl_height());
    const int shownHeight = std::min(textHeight, room);
    const int areaWidth = textWidth + (shownHeight < textHeight ? Fl::scrollbar_size() : 0);
    const int buttonsWidth = count * kButtonWidth + (count - 1) * kGap;
    const int width = std::max({areaWidth + 2 * kMargin, buttonsWidth + 2 * kEdge, kMinWidth});
    const int height = kMargin + shownHeight + below;

    Fl_Group::current(nullptr);
    BoxState state;
    MessageWindow window(width, height);
    state.window = &window;
    window.copy_label(caption.c_str());
    window.color(FL_WHITE);
    window.callback(OnClose);
    window.begin();
    auto *area = new Fl_Scroll(kMargin, kMargin, areaWidth, shownHeight);
    area->type(Fl_Scroll::VERTICAL);
    area->box(FL_FLAT_BOX);
    area->color(FL_WHITE);
    auto *message = new Fl_Box(kMargin, kMargin, textWidth, textHeight);
    message->labeltype(PlainLabel());
    message->labelsize(kFontSize);
    message->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE);
    message->copy_label(body.c_str());
    area->end();

    // The buttons at the bottom right, the first one focused: Enter presses it.
    std::vector<ButtonData> data(static_cast<std::size_t>(count));
    int x = width - kEdge - buttonsWidth;
    const int y = height - kEdge - kButtonHeight;
    Fl_Button *first = nullptr;
    for (int i = 0; i < count; ++i) {
        data[static_cast<std::size_t>(i)] = {&state, i};
        auto *button = new Fl_Button(x, y, kButtonWidth, kButtonHeight);
        button->copy_label(labels[i]);
        button->labelsize(kFontSize);
        button->callback(OnButton, &data[static_cast<std::size_t>(i)]);
        if (!first)
            first = button;
        x += kButtonWidth + kGap;
    }
    window.end();
    window.set_modal();
    window.position((Fl::w() - width) / 2, (Fl::h() - height) / 2);
    window.show();
    if (first)
        first->take_focus();
    while (window.shown() && !ended())
        Fl::wait();
    int chosen = state.chosen < 0 ? EscapeIndex(count) : state.chosen;
    return MessageButtonResult(buttons, chosen);
}

} // namespace gui::fltk

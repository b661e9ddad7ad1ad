#include "gui/fltk/FltkMessageBox.h"

#include "gui/fltk/FltkDrawing.h"
#include "gui/fltk/FltkWidgets.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <vector>

namespace gui::fltk {

namespace {

constexpr int kMargin = 16;
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

} // namespace

MessageResult RunMessageBox(const std::string &text, const std::string &caption,
                            MessageButtons buttons, const std::function<bool()> &ended) {
    int count = 0;
    const char *const *labels = MessageButtonLabels(buttons, count);
    if (ended())
        return MessageButtonResult(buttons, EscapeIndex(count));
    std::string body = PlainLineEnds(text);

    fl_font(FL_HELVETICA, FL_NORMAL_SIZE);
    int textWidth = 0, textHeight = 0;
    fl_measure(body.c_str(), textWidth, textHeight, 0);
    int buttonsWidth = count * kButtonWidth + (count - 1) * kGap;
    int width = std::clamp(std::max(textWidth + 8, buttonsWidth) + 2 * kMargin, 240, 900);
    int height = kMargin + textHeight + kMargin + kButtonHeight + kGap + 4;

    Fl_Group::current(nullptr);
    BoxState state;
    MessageWindow window(width, height);
    state.window = &window;
    window.copy_label(caption.c_str());
    window.color(FL_WHITE);
    window.callback(OnClose);
    window.begin();
    auto *message = new Fl_Box(kMargin, kMargin, width - 2 * kMargin, textHeight);
    message->labeltype(PlainLabel());
    message->labelsize(FL_NORMAL_SIZE);
    message->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE);
    message->copy_label(body.c_str());

    std::vector<ButtonData> data(static_cast<std::size_t>(count));
    int x = (width - buttonsWidth) / 2;
    int y = height - kButtonHeight - kGap - 4;
    Fl_Button *first = nullptr;
    for (int i = 0; i < count; ++i) {
        data[static_cast<std::size_t>(i)] = {&state, i};
        auto *button = new Fl_Button(x, y, kButtonWidth, kButtonHeight);
        button->copy_label(labels[i]);
        button->labelsize(FL_NORMAL_SIZE);
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

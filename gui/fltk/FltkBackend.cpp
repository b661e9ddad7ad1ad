#include "gui/fltk/FltkBackend.h"

#include "gui/Application.h"
#include "gui/fltk/FltkFace.h"
#include "gui/fltk/FltkFontSize.h"
#include "gui/fltk/FltkMessageBox.h"
#include "gui/fltk/FltkWidgets.h"
#include "platform/Catalogue.h"
#include "platform/NotifyQueue.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_JPEG_Image.H>
#include <FL/Fl_Progress.H>
#include <FL/x.H>

#include <X11/Xlib.h>

#include <string>
#include <vector>

namespace gui::fltk {

namespace {

// A form's window: Enter presses the focused button, else the form's default button;
// Escape and the close box reach the form.
class FormWindow : public Fl_Double_Window {
  public:
    FormWindow(Form &form)
        : Fl_Double_Window(form.ClientWidth(), form.ClientHeight()), form_(form) {}
    int handle(int event) override {
        if (EnterPressesFocusedButton(this, event))
            return 1;
        if (event == FL_SHORTCUT &&
            (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter) &&
            form_.DefaultButton()) {
            form_.PressEnter();
            return 1;
        }
        return Fl_Double_Window::handle(event);
    }

  private:
    Form &form_;
};

void OnWindowClose(Fl_Widget *, void *data) {
    auto *form = static_cast<Form *>(data);
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape)
        form->PressEscape();
    else
        form->PressCloseBox();
}

} // namespace

struct FltkBackend::Window {
    std::unique_ptr<FormWindow> window;
    std::map<Control *, Fl_Widget *> widgets;
    std::unique_ptr<Fl_JPEG_Image> icon;
    std::vector<std::unique_ptr<Fl_Image>> pictures;
};

FltkBackend::FltkBackend() {
    // Needed once on the main thread before the loop, or Fl::awake callbacks never run.
    Fl::lock();
    Fl::scheme("gtk+");
    Fl::visible_focus(1);
    // A narrow sans-serif face, close to the classic dialog font, or one with the characters
    // of the language; fontconfig falls back to the default sans-serif face where it is not
    // installed.
    // FLTK keeps the name's pointer, not a copy.
    static std::string face;
    face = WindowFace(platform::TextLanguage());
    Fl::set_font(FL_HELVETICA, face.c_str());
    // Texts are measured before the first window opens (forms make room for their captions).
    fl_open_display();
    FL_NORMAL_SIZE = kFontSize;
    // Calls that worker threads hand to the main thread run as soon as they arrive, in the
    // main loop and in every modal loop (message boxes, dialogs) alike.
    Fl::add_fd(platform::NotifyQueue::Current()->WakeDescriptor(), FL_READ,
               [](FL_SOCKET, void *) { platform::DispatchPendingMessages(); });
}

FltkBackend::~FltkBackend() {
    Fl::remove_timeout(ProgressFrame, this);
}

FltkBackend::Window *FltkBackend::Find(Form &form) {
    auto found = windows_.find(&form);
    return found == windows_.end() ? nullptr : found->second.get();
}

FltkBackend::Window &FltkBackend::Realize(Form &form) {
    if (Window *existing = Find(form))
        return *existing;
    auto created = std::make_unique<Window>();
    Window &w = *created;
    windows_[&form] = std::move(created);

    // A window created while another one is the current group would become its child.
    Fl_Group::current(nullptr);
    w.window = std::make_unique<FormWindow>(form);
    FormWindow &win = *w.window;
    win.color(FL_WHITE);
    win.copy_label(form.Caption().c_str());
    win.callback(OnWindowClose, &form);
    win.size_range(form.ClientWidth(), form.ClientHeight(), form.ClientWidth(),
                   form.ClientHeight());
    win.position((Fl::w() - form.ClientWidth()) / 2, (Fl::h() - form.ClientHeight()) / 2);
    if (form.Icon().bytes) {
        w.icon = std::make_unique<Fl_JPEG_Image>("icon", form.Icon().bytes);
        if (w.icon->w() > 0)
            win.icon(w.icon.get());
    }

    // Frames first (drawn below their contents), then the controls that take the focus in
    // tab order (FLTK's Tab follows the order of creation), then the rest.
    win.begin();
    const Fl_Fontsize size = FormFontSize(form);
    std::vector<Control *> order;
    for (const auto &control : form.Controls())
        if (control->Kind() == ControlKind::GroupBox)
            CreateGroupFrame(static_cast<GroupBox &>(*control), size);
    for (Control *control : form.TabOrder())
        order.push_back(control);
    for (const auto &control : form.Controls())
        if (!control->TakesFocus() && control->Kind() != ControlKind::GroupBox)
            order.push_back(control.get());
    for (Control *control : order) {
        Fl_Widget *target = nullptr;
        if (control->Kind() == ControlKind::Label)
            if (Control *focus = static_cast<Label *>(control)->FocusControl())
                target = w.widgets[focus];
        if (Fl_Widget *widget = CreateWidget(*control, target, size)) {
            w.widgets[control] = widget;
            if (control->Kind() == ControlKind::Picture && widget->image())
                w.pictures.emplace_back(widget->image());
        }
    }
    for (const auto &control : form.Controls()) {
        if (control->Kind() != ControlKind::GroupBox)
            continue;
        // A title check box covers the frame's line only as far as its caption reaches, and
        // a small gap after it, as a plain title does.
        if (CheckBox *title = static_cast<GroupBox &>(*control).TitleCheckBox())
            if (Fl_Widget *widget = w.widgets[title])
                widget->size(CheckBoxWidth(title->Caption(), size) + 4, widget->h());
    }
    win.end();
    if (&form == form.App().MainForm() && !title_.empty())
        win.iconlabel(title_.c_str());
    return w;
}

void FltkBackend::ControlChanged(Control &control, Property what) {
    Window *w = Find(control.OwnerForm());
    if (!w)
        return; // built from the state when first shown
    auto found = w->widgets.find(&control);
    if (found == w->widgets.end())
        return;
    if (what == Property::Progress && control.Kind() == ControlKind::ProgressBar) {
        auto &state = static_cast<ProgressBar &>(control);
        pendingProgress_[static_cast<Fl_Progress *>(found->second)] = {
            static_cast<float>(state.Min()), static_cast<float>(state.Max()),
            static_cast<float>(state.Position())};
        ScheduleProgress();
        return;
    }
    ApplyProperty(control, *found->second, what);
}

namespace {
constexpr std::chrono::microseconds kFrame(16667); // 60 frames a second
}

void FltkBackend::ScheduleProgress() {
    if (frameScheduled_)
        return;
    auto since = std::chrono::steady_clock::now() - lastProgressFrame_;
    if (since >= kFrame) {
        ApplyPendingProgress();
        return;
    }
    frameScheduled_ = true;
    Fl::add_timeout(std::chrono::duration<double>(kFrame - since).count(), ProgressFrame, this);
}

void FltkBackend::ProgressFrame(void *backend) {
    auto *self = static_cast<FltkBackend *>(backend);
    self->frameScheduled_ = false;
    self->ApplyPendingProgress();
}

void FltkBackend::ApplyPendingProgress() {
    for (auto &[bar, v] : pendingProgress_) {
        if (bar->minimum() != v.minimum)
            bar->minimum(v.minimum);
        if (bar->maximum() != v.maximum)
            bar->maximum(v.maximum);
        if (bar->value() != v.value)
            bar->value(v.value);
    }
    pendingProgress_.clear();
    lastProgressFrame_ = std::chrono::steady_clock::now();
}

void FltkBackend::FormChanged(Form &form, Property what) {
    Window *w = Find(form);
    if (!w || what != Property::Caption)
        return;
    const char *current = w->window->label();
    // Every label change re-sends the X property; skip the ones that change nothing.
    if (!current || form.Caption() != current)
        w->window->copy_label(form.Caption().c_str());
}

void FltkBackend::ApplyTitle(Application &app) {
    title_ = app.Title();
    if (Form *main = app.MainForm())
        if (Window *w = Find(*main))
            w->window->iconlabel(title_.c_str());
}

void FltkBackend::ApplicationChanged(Application &app, Property what) {
    if (what == Property::Title) {
        ApplyTitle(app);
        return;
    }
    if (what == Property::Cursor) {
        busy_ = app.Busy();
        for (auto &[form, w] : windows_)
            if (w->window->shown())
                w->window->cursor(busy_ ? FL_CURSOR_WAIT : FL_CURSOR_DEFAULT);
        Fl::flush();
    }
}

int FltkBackend::CaptionWidth(const Control &control) {
    return gui::fltk::CaptionWidth(control);
}

void FltkBackend::ShowForm(Form &form) {
    Window &w = Realize(form);
    w.window->show();
    if (busy_)
        w.window->cursor(FL_CURSOR_WAIT);
}

void FltkBackend::HideForm(Form &form) {
    if (&form == form.App().MainForm())
        mainClosed_ = true;
    if (Window *w = Find(form))
        w->window->hide();
}

void FltkBackend::RunModal(Form &form) {
    Window &w = Realize(form);
    w.window->set_modal();
    w.window->show();
    while (form.Visible() && !mainClosed_)
        Fl::wait();
    form.Close(); // as Cancel, when the program is closing
}

void FltkBackend::Run(Form &main) {
    while (main.Visible())
        Fl::wait();
}

void FltkBackend::ProcessMessages() {
    Fl::check();
}

MessageResult FltkBackend::ShowMessage(const std::string &text, const std::string &caption,
                                       MessageButtons buttons) {
    return RunMessageBox(text, caption, buttons, [this] { return mainClosed_; });
}

void FltkBackend::Repaint(Form &form) {
    ApplyPendingProgress();
    if (Window *w = Find(form); w && w->window->shown()) {
        w->window->redraw();
        Fl::flush();
    }
}

} // namespace gui::fltk

// The window backend's entry point: the program loads this code, and with it FLTK and X11,
// only when there is a display to show windows on. nullptr when the display cannot be opened.
extern "C" __attribute__((visibility("default"))) gui::Backend *download_create_display_backend() {
    // FLTK ends the program when it cannot open the display itself; open it here first.
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    fl_open_display(display);
    return new gui::fltk::FltkBackend();
}

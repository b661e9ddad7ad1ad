#include "gui/fltk/FltkWidgets.h"

#include "gui/fltk/FltkDrawing.h"
#include "gui/LayoutFit.h"
#include "gui/fltk/FltkFontSize.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Secret_Input.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_JPEG_Image.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

namespace gui::fltk {

namespace {

constexpr Fl_Color kBarColor = 0x2f6fc500;

// A label whose accelerator moves the focus to its control (Alt+letter).
class FocusLabel : public Fl_Box {
  public:
    FocusLabel(int x, int y, int w, int h, Fl_Widget *target)
        : Fl_Box(x, y, w, h), target_(target) {
        set_flag(SHORTCUT_LABEL);
    }
    int handle(int event) override {
        if (event == FL_SHORTCUT && target_ && target_->active_r() && test_shortcut()) {
            target_->take_focus();
            return 1;
        }
        return Fl_Box::handle(event);
    }

  private:
    Fl_Widget *target_;
};

void OnButton(Fl_Widget *, void *control) {
    static_cast<Button *>(control)->Click();
}

void OnCheck(Fl_Widget *widget, void *control) {
    auto *check = static_cast<CheckBox *>(control);
    bool value = static_cast<Fl_Check_Button *>(widget)->value() != 0;
    check->SetChecked(value);
}

void OnEdit(Fl_Widget *widget, void *control) {
    static_cast<Edit *>(control)->SetText(static_cast<Fl_Input *>(widget)->value());
}

void OnInputChoice(Fl_Widget *widget, void *control) {
    static_cast<ComboBox *>(control)->SetText(static_cast<Fl_Input_Choice *>(widget)->value());
}

void OnChoice(Fl_Widget *widget, void *control) {
    static_cast<ComboBox *>(control)->SetItemIndex(static_cast<Fl_Choice *>(widget)->value());
}

// Menu texts treat "/", "&", "_" and "\" specially; item texts are shown as they are.
std::string MenuText(const std::string &item) {
    std::string out;
    for (char c : item) {
        if (c == '/' || c == '&' || c == '_' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

void Style(Fl_Widget &widget, Fl_Fontsize size) {
    widget.labelsize(size);
    widget.labelfont(FL_HELVETICA);
}

std::string LabelText(const Control &control) {
    return IsPlainLabel(control) ? PlainLineEnds(control.Caption()) : control.Caption();
}

} // namespace

bool EnterPressesFocusedButton(Fl_Window *window, int event) {
    if (Fl::event_key() != FL_Enter && Fl::event_key() != FL_KP_Enter)
        return false;
    // A held key repeats its press, in whichever window has the focus by then: a button is
    // pressed once for each press of Enter, not as often as the key repeats while it is held.
    // The X server repeats a key as a release and a press of the same time; FLTK passes most
    // of these pairs on as presses alone, and some as a release and a press. One press may
    // arrive here twice (as the key, then as a shortcut) with the same time.
    static bool held = false, repeated = false;
    static Time pressTime = CurrentTime, releaseTime = CurrentTime;
    // The X event is only there while FLTK hands on a key event: other events (a change of
    // the focus made by the program) can come when it is long gone.
    if (event != FL_KEYDOWN && event != FL_KEYUP && event != FL_SHORTCUT)
        return false;
    const bool keyEvent =
        fl_xevent && (fl_xevent->type == KeyPress || fl_xevent->type == KeyRelease);
    const Time time = keyEvent ? fl_xevent->xkey.time : CurrentTime;
    if (event == FL_KEYUP) {
        held = false;
        releaseTime = time;
        return false;
    }
    if (time == CurrentTime) { // sent by a program, never a repeat
        repeated = false;
    } else if (time != pressTime) {
        pressTime = time;
        repeated = held || time == releaseTime;
        held = true;
    }
    if (event != FL_SHORTCUT)
        return false;
    if (repeated)
        return true;
    auto *button = dynamic_cast<Fl_Button *>(Fl::focus());
    if (!button || button->window() != window)
        return false;
    button->do_callback();
    return true;
}

void CreateGroupFrame(GroupBox &group, Fl_Fontsize size) {
    const Bounds &b = group.Place();
    new Fl_Box(FL_ENGRAVED_FRAME, b.left, b.top + 7, b.width, b.height - 7, nullptr);
    if (!group.Caption().empty()) {
        auto *title = new Fl_Box(FL_FLAT_BOX, b.left + 6, b.top,
                                 TextWidth(group.Caption(), size) + 6, 15, nullptr);
        Style(*title, size);
        title->color(FL_WHITE);
        title->labeltype(PlainLabel());
        title->align(FL_ALIGN_CENTER | FL_ALIGN_INSIDE);
        title->copy_label(group.Caption().c_str());
    }
}

Fl_Widget *CreateWidget(Control &control, Fl_Widget *focusTarget, Fl_Fontsize size) {
    const Bounds &b = control.Place();
    Fl_Widget *widget = nullptr;
    switch (control.Kind()) {
    case ControlKind::Button: {
        auto *button = new Fl_Button(b.left, b.top, b.width, b.height);
        button->callback(OnButton, &control);
        widget = button;
        break;
    }
    case ControlKind::Label: {
        Control *focus = static_cast<Label &>(control).FocusControl();
        Fl_Box *box = focus ? new FocusLabel(b.left, b.top, b.width, b.height, focusTarget)
                            : new Fl_Box(b.left, b.top, b.width, b.height);
        if (!focus)
            box->labeltype(PlainLabel());
        box->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
        widget = box;
        break;
    }
    case ControlKind::ProgressBar: {
        auto *bar = new Fl_Progress(b.left, b.top, b.width, b.height);
        bar->color(FL_WHITE);
        bar->selection_color(kBarColor);
        bar->box(FL_DOWN_BOX);
        widget = bar;
        break;
    }
    case ControlKind::Picture: {
        auto *box = new Fl_Box(b.left, b.top, b.width, b.height);
        const ImageData &data = static_cast<Picture &>(control).Image();
        if (data.bytes) {
            // Owned by the box's window for the rest of the run.
            auto *image = new Fl_JPEG_Image(control.Name().c_str(), data.bytes);
            if (image->w() > 0)
                box->image(image);
        }
        widget = box;
        break;
    }
    case ControlKind::CheckBox: {
        auto *check = new Fl_Check_Button(b.left, b.top, b.width, b.height);
        check->box(SteadyFlatBox());
        check->color(FL_WHITE);
        check->down_box(FL_DOWN_BOX);
        check->callback(OnCheck, &control);
        widget = check;
        break;
    }
    case ControlKind::ComboBox: {
        auto &combo = static_cast<ComboBox &>(control);
        if (combo.Style() == ComboStyle::Editable) {
            auto *input = new Fl_Input_Choice(b.left, b.top, b.width, b.height);
            for (const std::string &item : combo.Items())
                input->add(MenuText(item).c_str());
            input->textsize(size);
            input->when(FL_WHEN_CHANGED);
            input->callback(OnInputChoice, &control);
            input->menubutton()->textsize(size);
            widget = input;
        } else {
            auto *choice = new Fl_Choice(b.left, b.top, b.width, b.height);
            for (const std::string &item : combo.Items())
                choice->add(MenuText(item).c_str());
            choice->textsize(size);
            choice->callback(OnChoice, &control);
            widget = choice;
        }
        break;
    }
    case ControlKind::Edit: {
        auto *input = static_cast<Edit &>(control).Hidden()
                          ? new Fl_Secret_Input(b.left, b.top, b.width, b.height)
                          : new Fl_Input(b.left, b.top, b.width, b.height);
        input->textsize(size);
        input->when(FL_WHEN_CHANGED);
        input->callback(OnEdit, &control);
        widget = input;
        break;
    }
    case ControlKind::GroupBox:
        return nullptr; // drawn by CreateGroupFrame
    }
    Style(*widget, size);
    for (Property p : {Property::Caption, Property::Visible, Property::Enabled, Property::Text,
                       Property::Checked, Property::Items, Property::ReadOnly, Property::Progress})
        ApplyProperty(control, *widget, p);
    return widget;
}

void ApplyProperty(Control &control, Fl_Widget &widget, Property what) {
    switch (what) {
    case Property::Caption:
        if (control.Kind() == ControlKind::Button || control.Kind() == ControlKind::CheckBox ||
            control.Kind() == ControlKind::Label) {
            std::string text = LabelText(control);
            if (!widget.label() || text != widget.label())
                widget.copy_label(text.c_str());
        }
        break;
    case Property::Visible:
        if (control.Visible())
            widget.show();
        else
            widget.hide();
        break;
    case Property::Enabled:
        if (control.Enabled())
            widget.activate();
        else
            widget.deactivate();
        break;
    case Property::Focus:
        if (widget.window() && widget.window()->shown())
            widget.take_focus();
        break;
    case Property::Text:
        if (control.Kind() == ControlKind::Edit) {
            auto &input = static_cast<Fl_Input &>(widget);
            const std::string &text = static_cast<Edit &>(control).Text();
            if (text != input.value())
                input.value(text.c_str());
        }
        [[fallthrough]];
    case Property::Items:
        if (control.Kind() == ControlKind::ComboBox) {
            auto &combo = static_cast<ComboBox &>(control);
            if (combo.Style() == ComboStyle::Editable) {
                auto &input = static_cast<Fl_Input_Choice &>(widget);
                if (combo.Text() != (input.value() ? input.value() : ""))
                    input.value(combo.Text().c_str());
            } else {
                auto &choice = static_cast<Fl_Choice &>(widget);
                if (choice.value() != combo.ItemIndex())
                    choice.value(combo.ItemIndex());
            }
        }
        break;
    case Property::Checked:
        if (control.Kind() == ControlKind::CheckBox) {
            auto &check = static_cast<Fl_Check_Button &>(widget);
            int value = static_cast<CheckBox &>(control).Checked() ? 1 : 0;
            if (check.value() != value)
                check.value(value);
        }
        break;
    case Property::ReadOnly:
        if (control.Kind() == ControlKind::Edit)
            static_cast<Fl_Input &>(widget).readonly(static_cast<Edit &>(control).ReadOnly());
        break;
    case Property::Progress:
        if (control.Kind() == ControlKind::ProgressBar) {
            auto &bar = static_cast<Fl_Progress &>(widget);
            auto &state = static_cast<ProgressBar &>(control);
            bar.minimum(static_cast<float>(state.Min()));
            bar.maximum(static_cast<float>(state.Max()));
            bar.value(static_cast<float>(state.Position()));
        }
        break;
    case Property::Cursor:
    case Property::Title:
    case Property::Default:
        break;
    }
    widget.redraw();
}

} // namespace gui::fltk

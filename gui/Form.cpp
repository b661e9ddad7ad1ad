#include "gui/Form.h"

#include "gui/LayoutFit.h"

#include "gui/Application.h"
#include "gui/PlainText.h"
#include "platform/Catalogue.h"

#include <algorithm>

namespace gui {

Form::Form(Application &app, std::string name, int clientWidth, int clientHeight)
    : app_(app), name_(std::move(name)), width_(clientWidth), height_(clientHeight) {}

void Form::SetDefaultButton(Button *button) {
    if (button == default_)
        return;
    default_ = button;
    app_.GetBackend().FormChanged(*this, Property::Default);
}

void Form::SetCaption(const std::string &text) {
    const std::string caption = Printable(text);
    // Every caption change reaches the window manager; skip the ones that change nothing.
    if (caption == caption_)
        return;
    caption_ = caption;
    app_.GetBackend().FormChanged(*this, Property::Caption);
}

void Form::FitToCaptions() {
    // Once the backend has built the window, its controls keep their places.
    if (shown_)
        return;
    shown_ = true;
    // The layouts are made for the English texts; where a face draws them wider (wine's for
    // "MS Sans Serif") the window's own font fits them.
    if (platform::TextLanguage() == "en")
        return;
    Backend &backend = app_.GetBackend();
    FitCaptions(*this, [&backend](const Control &control) { return backend.CaptionWidth(control); });
}

void Form::Show() {
    if (visible_)
        return;
    if (OnShow)
        OnShow();
    FitToCaptions();
    visible_ = true;
    app_.GetBackend().ShowForm(*this);
}

void Form::ShowModal() {
    if (visible_)
        return;
    if (OnShow)
        OnShow();
    FitToCaptions();
    visible_ = true;
    modal_ = true;
    app_.GetBackend().RunModal(*this);
    modal_ = false;
}

void Form::Close() {
    if (!visible_)
        return;
    visible_ = false;
    app_.GetBackend().HideForm(*this);
    if (OnClose)
        OnClose();
}

void Form::Repaint() {
    app_.GetBackend().Repaint(*this);
}

template <class T, class... Args> T &Form::Add(Args &&...args) {
    auto control = std::make_unique<T>(*this, std::forward<Args>(args)...);
    T &result = *control;
    controls_.push_back(std::move(control));
    return result;
}

Button &Form::AddButton(std::string name, Bounds bounds, std::string caption) {
    return Add<Button>(std::move(name), bounds, std::move(caption));
}

Label &Form::AddLabel(std::string name, Bounds bounds, std::string caption, Control *focus) {
    return Add<Label>(std::move(name), bounds, std::move(caption), focus);
}

ProgressBar &Form::AddProgressBar(std::string name, Bounds bounds) {
    return Add<ProgressBar>(std::move(name), bounds);
}

Picture &Form::AddPicture(std::string name, Bounds bounds, ImageData image) {
    return Add<Picture>(std::move(name), bounds, image);
}

CheckBox &Form::AddCheckBox(std::string name, Bounds bounds, std::string caption) {
    return Add<CheckBox>(std::move(name), bounds, std::move(caption));
}

ComboBox &Form::AddComboBox(std::string name, Bounds bounds, ComboStyle style,
                            std::vector<std::string> items) {
    return Add<ComboBox>(std::move(name), bounds, style, std::move(items));
}

Edit &Form::AddEdit(std::string name, Bounds bounds) {
    return Add<Edit>(std::move(name), bounds);
}

GroupBox &Form::AddGroupBox(std::string name, Bounds bounds, std::string caption) {
    return Add<GroupBox>(std::move(name), bounds, std::move(caption));
}

CheckBox &Form::AddCheckGroupBox(std::string groupName, std::string checkName, Bounds bounds,
                                 std::string caption) {
    GroupBox &group = AddGroupBox(std::move(groupName), bounds, "");
    // The check box sits on the frame's top line, where a plain title would be.
    Bounds title{bounds.left + 8, bounds.top, bounds.width - 16, 17};
    CheckBox &check = AddCheckBox(std::move(checkName), title, std::move(caption));
    group.SetTitleCheckBox(&check);
    return check;
}

Control *Form::Find(const std::string &name) const {
    for (const auto &control : controls_)
        if (control->Name() == name)
            return control.get();
    return nullptr;
}

std::vector<Control *> Form::TabOrder() const {
    std::vector<Control *> order;
    for (Control *control : tabOrder_)
        if (control->TakesFocus())
            order.push_back(control);
    for (const auto &control : controls_)
        if (control->TakesFocus() &&
            std::find(order.begin(), order.end(), control.get()) == order.end())
            order.push_back(control.get());
    return order;
}

void Form::SetFocusedControl(Control *control) {
    focused_ = control;
}

void Form::PressEscape() {
    if (cancel_)
        cancel_->Click();
}

void Form::PressEnter() {
    if (default_)
        default_->Click();
}

bool Form::PressAccelerator(char letter) {
    for (const auto &control : controls_) {
        if (!control->Visible() || !control->Enabled() ||
            AcceleratorOf(control->Caption()) != letter)
            continue;
        switch (control->Kind()) {
        case ControlKind::Button:
            static_cast<Button &>(*control).Click();
            return true;
        case ControlKind::CheckBox:
            control->SetFocus();
            static_cast<CheckBox &>(*control).Click();
            return true;
        case ControlKind::Label:
            if (Control *target = static_cast<Label &>(*control).FocusControl()) {
                target->SetFocus();
                return true;
            }
            break;
        default:
            break;
        }
    }
    return false;
}

void Form::PressCloseBox() {
    // A modal dialog's close box is its cancel button when it has one.
    if (modal_ && cancel_ && cancel_->Visible() && cancel_->Enabled()) {
        cancel_->Click();
        return;
    }
    Close();
}

} // namespace gui

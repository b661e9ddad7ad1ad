#include "gui/Control.h"

#include "gui/Application.h"
#include "gui/Form.h"
#include "gui/PlainText.h"

#include <cctype>

namespace gui {

Control::Control(Form &form, ControlKind kind, std::string name, Bounds bounds, std::string caption)
    : form_(form), kind_(kind), name_(std::move(name)), bounds_(bounds),
      caption_(std::move(caption)) {}

void Control::Changed(Property what) {
    form_.App().GetBackend().ControlChanged(*this, what);
}

void Control::SetCaption(const std::string &text) {
    const std::string caption = Printable(text);
    if (caption == caption_)
        return;
    caption_ = caption;
    Changed(Property::Caption);
}

void Control::SetVisible(bool visible) {
    if (visible == visible_)
        return;
    visible_ = visible;
    Changed(Property::Visible);
}

void Control::SetEnabled(bool enabled) {
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    Changed(Property::Enabled);
}

void Control::SetFocus() {
    form_.SetFocusedControl(this);
    Changed(Property::Focus);
}

bool Control::Focused() const {
    return form_.FocusedControl() == this;
}

bool Control::TakesFocus() const {
    switch (kind_) {
    case ControlKind::Button:
    case ControlKind::CheckBox:
    case ControlKind::ComboBox:
    case ControlKind::Edit:
        return true;
    default:
        return false;
    }
}

char AcceleratorOf(const std::string &caption) {
    for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&')
            continue;
        if (caption[i + 1] == '&') {
            ++i;
            continue;
        }
        return static_cast<char>(std::tolower(static_cast<unsigned char>(caption[i + 1])));
    }
    return '\0';
}

std::string StripAccelerator(const std::string &caption) {
    std::string out;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&' && i + 1 < caption.size())
            ++i;
        out += caption[i];
    }
    return out;
}

} // namespace gui

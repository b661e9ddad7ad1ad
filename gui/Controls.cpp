#include "gui/Controls.h"

#include <algorithm>

namespace gui {

void Button::Click() {
    if (Visible() && Enabled() && OnClick)
        OnClick();
}

void ProgressBar::SetRange(int64_t min, int64_t max) {
    min_ = min;
    max_ = std::max(min, max);
    position_ = std::clamp(position_, min_, max_);
    Changed(Property::Progress);
}

void ProgressBar::SetPosition(int64_t position) {
    position_ = std::clamp(position, min_, max_);
    Changed(Property::Progress);
}

void CheckBox::SetChecked(bool checked) {
    if (checked == checked_)
        return;
    checked_ = checked;
    Changed(Property::Checked);
    if (OnClick)
        OnClick();
}

void CheckBox::Click() {
    if (Visible() && Enabled())
        SetChecked(!checked_);
}

ComboBox::ComboBox(Form &form, std::string name, Bounds bounds, ComboStyle style,
                   std::vector<std::string> items)
    : Control(form, ControlKind::ComboBox, std::move(name), bounds, ""), style_(style),
      items_(std::move(items)) {}

void ComboBox::SetText(const std::string &text) {
    auto found = std::find(items_.begin(), items_.end(), text);
    int index = found == items_.end() ? -1 : static_cast<int>(found - items_.begin());
    if (style_ == ComboStyle::DropDownList) {
        SetItemIndex(index);
        return;
    }
    if (text == text_ && index == index_)
        return;
    text_ = text;
    index_ = index;
    Changed(Property::Text);
}

void ComboBox::SetItemIndex(int index) {
    if (index < 0 || index >= static_cast<int>(items_.size()))
        index = -1;
    std::string text = index < 0 ? (style_ == ComboStyle::Editable ? text_ : std::string())
                                 : items_[static_cast<std::size_t>(index)];
    if (index == index_ && text == text_)
        return;
    index_ = index;
    text_ = std::move(text);
    Changed(Property::Items);
}

void Edit::SetText(const std::string &text) {
    if (text == text_)
        return;
    text_ = text;
    Changed(Property::Text);
}

void Edit::SetReadOnly(bool readOnly) {
    if (readOnly == readOnly_)
        return;
    readOnly_ = readOnly;
    Changed(Property::ReadOnly);
}

} // namespace gui

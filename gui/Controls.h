#pragma once

#include "gui/Control.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace gui {

using ClickHandler = std::function<void()>;

class Button : public Control {
  public:
    Button(Form &form, std::string name, Bounds bounds, std::string caption)
        : Control(form, ControlKind::Button, std::move(name), bounds, std::move(caption)) {}
    ClickHandler OnClick;
    // A press by the user: runs OnClick when the button is visible and enabled.
    void Click();
};

// A static text; with a focus control, its accelerator moves the focus there.
class Label : public Control {
  public:
    Label(Form &form, std::string name, Bounds bounds, std::string caption, Control *focus)
        : Control(form, ControlKind::Label, std::move(name), bounds, std::move(caption)),
          focus_(focus) {}
    Control *FocusControl() const { return focus_; }

  private:
    Control *focus_;
};

class ProgressBar : public Control {
  public:
    ProgressBar(Form &form, std::string name, Bounds bounds)
        : Control(form, ControlKind::ProgressBar, std::move(name), bounds, "") {}
    // 64-bit, so that the range can be the size of a file over 2 GiB.
    int64_t Min() const { return min_; }
    int64_t Max() const { return max_; }
    int64_t Position() const { return position_; }
    // The position is kept within the range, also when the range shrinks.
    void SetRange(int64_t min, int64_t max);
    void SetPosition(int64_t position);

  private:
    int64_t min_ = 0;
    int64_t max_ = 100;
    int64_t position_ = 0;
};

// An image held in static storage, in a format the backends decode (JPEG).
struct ImageData {
    const unsigned char *bytes = nullptr;
    std::size_t size = 0;
};

class Picture : public Control {
  public:
    Picture(Form &form, std::string name, Bounds bounds, ImageData image)
        : Control(form, ControlKind::Picture, std::move(name), bounds, ""), image_(image) {}
    const ImageData &Image() const { return image_; }

  private:
    ImageData image_;
};

class CheckBox : public Control {
  public:
    CheckBox(Form &form, std::string name, Bounds bounds, std::string caption)
        : Control(form, ControlKind::CheckBox, std::move(name), bounds, std::move(caption)) {}
    bool Checked() const { return checked_; }
    // Changing the check runs OnClick, as a click by the user would.
    void SetChecked(bool checked);
    // A click by the user: toggles the check when the box is visible and enabled.
    void Click();
    ClickHandler OnClick;

  private:
    bool checked_ = false;
};

enum class ComboStyle { Editable, DropDownList };

class ComboBox : public Control {
  public:
    ComboBox(Form &form, std::string name, Bounds bounds, ComboStyle style,
             std::vector<std::string> items);
    ComboStyle Style() const { return style_; }
    const std::vector<std::string> &Items() const { return items_; }
    // The text shown; for a drop-down list the selected item's text (empty when none).
    const std::string &Text() const { return text_; }
    // Editable: any text, selecting the matching item if there is one. Drop-down list:
    // selects the matching item, or nothing.
    void SetText(const std::string &text);
    int ItemIndex() const { return index_; }
    // An index outside the items selects nothing (and empties a drop-down list's text).
    void SetItemIndex(int index);

  private:
    ComboStyle style_;
    std::vector<std::string> items_;
    std::string text_;
    int index_ = -1;
};

class Edit : public Control {
  public:
    Edit(Form &form, std::string name, Bounds bounds)
        : Control(form, ControlKind::Edit, std::move(name), bounds, "") {}
    const std::string &Text() const { return text_; }
    void SetText(const std::string &text);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly);
    // Its text is shown as dots (a password); set before the form is first shown.
    bool Hidden() const { return hidden_; }
    void SetHidden(bool hidden) { hidden_ = hidden; }

  private:
    std::string text_;
    bool readOnly_ = false;
    bool hidden_ = false;
};

// A frame with a title; the title may instead be a check box (TitleCheckBox).
class GroupBox : public Control {
  public:
    GroupBox(Form &form, std::string name, Bounds bounds, std::string caption)
        : Control(form, ControlKind::GroupBox, std::move(name), bounds, std::move(caption)) {}
    CheckBox *TitleCheckBox() const { return title_; }
    void SetTitleCheckBox(CheckBox *title) { title_ = title; }

  private:
    CheckBox *title_ = nullptr;
};

} // namespace gui

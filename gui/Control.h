#pragma once

#include "gui/Backend.h"

#include <string>
#include <vector>

namespace gui {

class Form;

// Place of a control in its form's client area, in pixels.
struct Bounds {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

enum class ControlKind { Button, Label, ProgressBar, Picture, CheckBox, ComboBox, Edit, GroupBox };

// The state every control shares. A caption may carry an accelerator: the letter after a
// single "&" (Alt+letter); "&&" stands for a literal "&".
class Control {
  public:
    Control(Form &form, ControlKind kind, std::string name, Bounds bounds, std::string caption);
    virtual ~Control() = default;
    Control(const Control &) = delete;
    Control &operator=(const Control &) = delete;

    Form &OwnerForm() const { return form_; }
    ControlKind Kind() const { return kind_; }
    const std::string &Name() const { return name_; }
    const Bounds &Place() const { return bounds_; }
    // Moves or resizes the control; only before its form is first shown (FitCaptions).
    void SetPlace(Bounds bounds) { bounds_ = bounds; }

    const std::string &Caption() const { return caption_; }
    // Texts the control will show later (a status line's), for making room for them before
    // the form is first shown: FitCaptions sizes the control for the widest of them too.
    const std::vector<std::string> &SizingTexts() const { return sizingTexts_; }
    void SetSizingTexts(std::vector<std::string> texts) { sizingTexts_ = std::move(texts); }
    // Control characters in the text are replaced (Printable).
    void SetCaption(const std::string &text);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    // Moves the keyboard focus of the form to this control.
    void SetFocus();
    bool Focused() const;
    // True for the kinds that take the keyboard focus with Tab.
    bool TakesFocus() const;

  protected:
    void Changed(Property what);

  private:
    Form &form_;
    ControlKind kind_;
    std::string name_;
    Bounds bounds_;
    std::string caption_;
    std::vector<std::string> sizingTexts_;
    bool visible_ = true;
    bool enabled_ = true;
};

// The accelerator letter of a caption in lower case ('\0' when it has none).
char AcceleratorOf(const std::string &caption);
// The caption as drawn: single "&" removed, "&&" turned into "&".
std::string StripAccelerator(const std::string &caption);

} // namespace gui

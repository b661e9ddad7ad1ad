#pragma once

#include "gui/Controls.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace gui {

class Application;

// A top-level window: its caption, icon, client size and controls. A form is centred on
// the screen and keeps its size. Closing hides it; the application's main form ends the
// message loop when it closes.
class Form {
  public:
    Form(Application &app, std::string name, int clientWidth, int clientHeight);
    Form(const Form &) = delete;
    Form &operator=(const Form &) = delete;

    Application &App() const { return app_; }
    const std::string &Name() const { return name_; }
    int ClientWidth() const { return width_; }
    int ClientHeight() const { return height_; }
    // Resizes the client area; only before the form is first shown (FitCaptions).
    void SetClientSize(int width, int height) {
        width_ = width;
        height_ = height;
    }

    const std::string &Caption() const { return caption_; }
    // Passes the caption (Printable) to the backend only when it differs from the current one.
    void SetCaption(const std::string &caption);
    const ImageData &Icon() const { return icon_; }
    void SetIcon(ImageData icon) { icon_ = icon; }

    bool Visible() const { return visible_; }
    bool Modal() const { return modal_; }
    // Runs OnShow, then shows the form; returns at once.
    void Show();
    // Runs OnShow, then shows the form modally over the others; returns when it closed.
    void ShowModal();
    // Hides the form and runs OnClose (only when it was visible).
    void Close();
    // Redraws the form at once.
    void Repaint();

    std::function<void()> OnShow;
    std::function<void()> OnClose;

    Button &AddButton(std::string name, Bounds bounds, std::string caption);
    Label &AddLabel(std::string name, Bounds bounds, std::string caption, Control *focus = nullptr);
    ProgressBar &AddProgressBar(std::string name, Bounds bounds);
    Picture &AddPicture(std::string name, Bounds bounds, ImageData image);
    CheckBox &AddCheckBox(std::string name, Bounds bounds, std::string caption);
    ComboBox &AddComboBox(std::string name, Bounds bounds, ComboStyle style,
                          std::vector<std::string> items);
    Edit &AddEdit(std::string name, Bounds bounds);
    GroupBox &AddGroupBox(std::string name, Bounds bounds, std::string caption);
    // A group box whose title is a check box; returns the check box.
    CheckBox &AddCheckGroupBox(std::string groupName, std::string checkName, Bounds bounds,
                               std::string caption);

    const std::vector<std::unique_ptr<Control>> &Controls() const { return controls_; }
    // The control of that name, or nullptr.
    Control *Find(const std::string &name) const;
    // The control of that name and kind; throws std::logic_error when there is none.
    template <class T> T &Get(const std::string &name) const {
        T *found = dynamic_cast<T *>(Find(name));
        if (!found)
            throw std::logic_error("form " + name_ + " has no control " + name);
        return *found;
    }

    // The order in which Tab moves through the controls that take the focus: the given
    // ones first, then the others in creation order.
    void SetTabOrder(std::vector<Control *> order) { tabOrder_ = std::move(order); }
    std::vector<Control *> TabOrder() const;

    // Enter presses the default button; Escape presses the cancel button.
    void SetDefaultButton(Button *button);
    void SetCancelButton(Button *button) { cancel_ = button; }
    Button *DefaultButton() const { return default_; }
    Button *CancelButton() const { return cancel_; }

    Control *FocusedControl() const { return focused_; }
    void SetFocusedControl(Control *control);

    // Input from the user, as a backend (or a test) delivers it.
    void PressEscape();
    void PressEnter();
    // Alt+letter: presses, toggles or focuses the control whose caption has that
    // accelerator. Returns false when no visible, enabled control has it.
    bool PressAccelerator(char letter);
    // The window's close box.
    void PressCloseBox();

  private:
    template <class T, class... Args> T &Add(Args &&...args);
    // Gives each caption the width it needs in this language, before the first showing.
    void FitToCaptions();
    friend class Application;

    Application &app_;
    std::string name_;
    int width_;
    int height_;
    std::string caption_;
    ImageData icon_;
    bool visible_ = false;
    bool modal_ = false;
    bool shown_ = false;
    std::vector<std::unique_ptr<Control>> controls_;
    std::vector<Control *> tabOrder_;
    Button *default_ = nullptr;
    Button *cancel_ = nullptr;
    Control *focused_ = nullptr;
};

} // namespace gui

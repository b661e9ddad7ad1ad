#include "gui/win32/FormWindow.h"

#include "gui/win32/ControlWindows.h"
#include "gui/win32/DialogTemplate.h"
#include "gui/win32/Dpi.h"
#include "gui/win32/JpegPicture.h"
#include "platform/win32/Text.h"

#include <algorithm>

namespace gui::win32 {

namespace {

// A keyboard message queued by QueueKeyboardMessage waits for the window.
constexpr UINT kKeyboardMessage = WM_APP + 1;
// Control windows are numbered from here: the dialog manager's IDOK (Enter without a default
// button) and IDCANCEL (Escape) stay apart from them.
constexpr int kFirstControlId = 100;

void SetDialogResult(HWND window, LONG_PTR result) {
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
}

} // namespace

FormWindow::FormWindow(FormHost &host, Form &form, bool mainForm)
    : host_(host), form_(form), main_(mainForm) {}

FormWindow::~FormWindow() {
    if (window_ && !modal_) {
        // The form may be gone already (the program is ending): what the window and its
        // controls report while they are destroyed no longer reaches it.
        SetWindowLongPtrW(window_, DWLP_USER, 0);
        DestroyWindow(window_);
    }
    if (font_)
        DeleteObject(font_);
}

HFONT FormWindow::CreateFittingFont() const {
    // Fonts differ in width from system to system (wine draws "MS Sans Serif" with the wider
    // DejaVu Sans): the whole window takes a pixel or two less rather than a caption being
    // cut, or drawn smaller than its neighbours.
    for (int pixels = kFormFontPixels;; --pixels) {
        HFONT font = CreateFormFont(dpi_, pixels);
        if (pixels <= kSmallestFontPixels || CaptionsFit(font))
            return font;
        DeleteObject(font);
    }
}

bool FormWindow::CaptionsFit(HFONT font) const {
    // The captions of the layout: check boxes and the labels of fields. Status lines change
    // while the window shows; one that is too long is shortened in the middle when drawn.
    for (const auto &[control, window] : windows_) {
        int needed = 0;
        if (control->Kind() == ControlKind::CheckBox)
            needed = CheckBoxWidth(window, font, control->Caption());
        else if (control->Kind() == ControlKind::Label &&
                 static_cast<const Label &>(*control).FocusControl())
            needed = CaptionWidth(window, font, control->Caption());
        if (needed > Scaled(control->Place().width, dpi_))
            return false;
    }
    return true;
}

DWORD FormWindow::Style() const {
    return WS_POPUP | WS_CAPTION | WS_SYSMENU | (main_ ? WS_MINIMIZEBOX : 0u);
}

DWORD FormWindow::ExStyle() const {
    return WS_EX_TOOLWINDOW;
}

bool FormWindow::CreateModeless(HWND owner) {
    EmptyTemplate dialog(Style(), ExStyle());
    CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, DialogProc,
                               reinterpret_cast<LPARAM>(this));
    return window_ != nullptr;
}

void FormWindow::RunModal(HWND owner) {
    modal_ = true;
    EmptyTemplate dialog(Style(), ExStyle());
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, DialogProc,
                            reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    windows_.clear();
}

void FormWindow::End() {
    if (!window_)
        return;
    if (modal_)
        EndDialog(window_, 0);
    else
        ShowWindow(window_, SW_HIDE);
}

HWND FormWindow::ControlWindow(const Control &control) const {
    auto found = windows_.find(&control);
    return found == windows_.end() ? nullptr : found->second;
}

void FormWindow::ControlChanged(Control &control, Property what) {
    if (HWND window = ControlWindow(control))
        ApplyControlProperty(control, window, what);
}

void FormWindow::ApplyDefaultButton() {
    Button *button = form_.DefaultButton();
    HWND window = button ? ControlWindow(*button) : nullptr;
    const int id = window ? GetDlgCtrlID(window) : 0;
    if (id == defaultId_ || !window_)
        return;
    defaultId_ = id;
    if (id)
        SendMessageW(window_, DM_SETDEFID, static_cast<WPARAM>(id), 0);
}

void FormWindow::CaptionChanged() {
    if (window_)
        SetWindowTextW(window_, platform::win32::Widen(form_.Caption()).c_str());
}

void FormWindow::QueueKeyboardMessage(const MSG &message) {
    keyboard_.push_back(message);
    PostMessageW(window_, kKeyboardMessage, 0, 0);
}

Control *FormWindow::ControlOf(int id) const {
    const auto &controls = form_.Controls();
    const int index = id - kFirstControlId;
    if (index < 0 || index >= static_cast<int>(controls.size()))
        return nullptr;
    return controls[static_cast<std::size_t>(index)].get();
}

INT_PTR CALLBACK FormWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto *self = reinterpret_cast<FormWindow *>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->Initialise(window);
        return FALSE; // the focus is set
    }
    auto *self = reinterpret_cast<FormWindow *>(GetWindowLongPtrW(window, DWLP_USER));
    return self ? self->Handle(message, wParam, lParam) : FALSE;
}

void FormWindow::Initialise(HWND window) {
    window_ = window;
    KeepDialogLayoutOwn(window_);
    dpi_ = WindowDpi(window_);
    SetWindowTextW(window_, platform::win32::Widen(form_.Caption()).c_str());
    CreateControls();
    font_ = CreateFittingFont();
    Layout();
    Centre();
    ApplyDefaultButton();
    // Access keys are underlined from the start, not only once Alt has been pressed.
    SendMessageW(window_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL), 0);
    FocusFirst();
    if (modal_ && !form_.Visible())
        EndDialog(window_, 0); // closed before its window came up
}

void FormWindow::FocusFirst() {
    // The form's focused control, else the first one in tab order that can take the focus.
    auto usable = [](const Control *c) { return c && c->Visible() && c->Enabled(); };
    Control *focus = form_.FocusedControl();
    if (!usable(focus)) {
        focus = nullptr;
        for (Control *control : form_.TabOrder())
            if (usable(control)) {
                focus = control;
                break;
            }
    }
    if (HWND focusWindow = focus ? ControlWindow(*focus) : nullptr)
        SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focusWindow), TRUE);
}

std::vector<Control *> FormWindow::CreationOrder() const {
    // The controls of the tab order first, then the others, each label just before the
    // control it names (its accelerator then focuses that control, and a screen reader reads
    // it as the control's name), and the group frames last, under everything.
    std::vector<Control *> order;
    const auto &controls = form_.Controls();
    auto placed = [&](const Control *c) {
        return std::find(order.begin(), order.end(), c) != order.end();
    };
    auto place = [&](Control *control) {
        if (placed(control))
            return;
        for (const auto &label : controls)
            if (label->Kind() == ControlKind::Label &&
                static_cast<Label &>(*label).FocusControl() == control && !placed(label.get()))
                order.push_back(label.get());
        order.push_back(control);
    };
    for (Control *control : form_.TabOrder())
        place(control);
    for (const auto &control : controls) {
        if (control->Kind() == ControlKind::GroupBox)
            continue;
        // A label comes with the control it names, wherever that stands in the list.
        Control *named = control->Kind() == ControlKind::Label
                             ? static_cast<Label &>(*control).FocusControl()
                             : nullptr;
        const bool ownControl = std::any_of(controls.begin(), controls.end(),
                                            [&](const auto &c) { return c.get() == named; });
        place(ownControl ? named : control.get());
    }
    for (const auto &control : controls)
        place(control.get());
    return order;
}

void FormWindow::CreateControls() {
    const auto &controls = form_.Controls();
    const std::vector<Control *> order = CreationOrder();
    for (Control *control : order) {
        const auto index = std::find_if(controls.begin(), controls.end(),
                                        [&](const auto &c) { return c.get() == control; }) -
                           controls.begin();
        HWND window =
            CreateControlWindow(*control, window_, kFirstControlId + static_cast<int>(index), dpi_);
        if (!window)
            continue;
        windows_[control] = window;
        if (control->Kind() == ControlKind::Picture)
            pictures_[control] =
                std::make_unique<JpegPicture>(static_cast<Picture &>(*control).Image());
    }
}

void FormWindow::Layout() {
    for (auto &[control, window] : windows_) {
        PlaceControlWindow(*control, window, dpi_);
        SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    }
    // A check box that titles a group covers the frame's line only as far as its caption.
    for (const auto &control : form_.Controls()) {
        if (control->Kind() != ControlKind::GroupBox)
            continue;
        CheckBox *title = static_cast<GroupBox &>(*control).TitleCheckBox();
        HWND window = title ? ControlWindow(*title) : nullptr;
        if (!window)
            continue;
        const int width = std::min(CheckBoxWidth(window, font_, title->Caption()),
                                   Scaled(title->Place().width, dpi_));
        SetWindowPos(window, nullptr, 0, 0, width, Scaled(title->Place().height, dpi_),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    const SIZE size =
        WindowSizeFor(form_.ClientWidth(), form_.ClientHeight(), Style(), ExStyle(), dpi_);
    SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(window_, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(host_.Icon(false, dpi_)));
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(host_.Icon(true, dpi_)));
}

void FormWindow::Centre() {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT &area = monitor.rcWork;
    RECT r{};
    GetWindowRect(window_, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    SetWindowPos(window_, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR FormWindow::White(HDC dc) const {
    SetBkColor(dc, RGB(255, 255, 255));
    return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
}

INT_PTR FormWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        Control *control = lParam ? ControlOf(id) : nullptr;
        if (control)
            ControlNotified(*control, reinterpret_cast<HWND>(lParam), HIWORD(wParam));
        else if (id == IDOK)
            form_.PressEnter();
        else if (id == IDCANCEL)
            form_.PressEscape();
        return TRUE;
    }
    case WM_CLOSE:
        form_.PressCloseBox();
        return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return White(reinterpret_cast<HDC>(wParam));
    case WM_DRAWITEM: {
        const auto *item = reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
        Control *control = ControlOf(static_cast<int>(wParam));
        if (control && control->Kind() == ControlKind::Label) {
            DrawLabel(static_cast<Label &>(*control), *item);
            return TRUE;
        }
        auto found = control ? pictures_.find(control) : pictures_.end();
        if (found == pictures_.end())
            return FALSE;
        FillRect(item->hDC, &item->rcItem, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        found->second->Draw(item->hDC, item->rcItem);
        return TRUE;
    }
    case WM_SETCURSOR:
        if (!host_.Busy())
            return FALSE;
        SetCursor(LoadCursor(nullptr, IDC_WAIT));
        SetDialogResult(window_, TRUE);
        return TRUE;
    case WM_DPICHANGED: {
        // Moved to a monitor of another DPI: the font and the controls follow, and the window
        // keeps its place's top left corner.
        dpi_ = HIWORD(wParam);
        // The controls keep the old font until the new one is set.
        HFONT old = font_;
        font_ = CreateFittingFont();
        Layout();
        DeleteObject(old);
        const auto *suggested = reinterpret_cast<const RECT *>(lParam);
        SetWindowPos(window_, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return TRUE;
    }
    case WM_SYSCOMMAND:
        if (main_ && (wParam & 0xFFF0) == SC_MINIMIZE) {
            host_.Minimise();
            SetDialogResult(window_, 0);
            return TRUE;
        }
        return FALSE;
    case kKeyboardMessage:
        if (!keyboard_.empty()) {
            MSG queued = keyboard_.front();
            keyboard_.pop_front();
            if (!IsDialogMessageW(window_, &queued)) {
                TranslateMessage(&queued);
                DispatchMessageW(&queued);
            }
        }
        return TRUE;
    case WM_DESTROY:
        windows_.clear();
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace gui::win32

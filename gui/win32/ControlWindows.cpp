#include "gui/win32/ControlWindows.h"

#include "gui/PlainText.h"
#include "gui/TextFit.h"
#include "gui/win32/Dpi.h"
#include "gui/win32/ProgressScale.h"
#include "platform/win32/Text.h"

#include <commctrl.h>

#include <algorithm>

namespace gui::win32 {

namespace {

using platform::win32::Narrow;
using platform::win32::Widen;

// The height a combo box's drop-down list adds below its edit field.
constexpr int kDropDownHeight = 120;

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), length + 1);
    return Narrow(text.c_str(), static_cast<std::size_t>(got > 0 ? got : 0));
}

void SetTextIfChanged(HWND window, const std::string &text) {
    if (WindowText(window) != text)
        SetWindowTextW(window, Widen(text).c_str());
}

struct WindowKind {
    const wchar_t *className;
    DWORD style;
};

WindowKind KindOf(const Control &control) {
    switch (control.Kind()) {
    case ControlKind::Button:
        return {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP};
    case ControlKind::CheckBox:
        return {L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP};
    case ControlKind::GroupBox:
        return {L"BUTTON", BS_GROUPBOX};
    case ControlKind::Label:
        // Drawn by DrawLabel. The status line shows texts as they are; a label of a control
        // underlines its accelerator, which moves the focus to that control.
        return {L"STATIC",
                SS_OWNERDRAW |
                    (static_cast<const Label &>(control).FocusControl() ? 0u : SS_NOPREFIX)};
    case ControlKind::Picture:
        return {L"STATIC", SS_OWNERDRAW};
    case ControlKind::ProgressBar:
        return {PROGRESS_CLASSW, 0};
    case ControlKind::Edit:
        return {L"EDIT", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_GROUP |
                             (static_cast<const Edit &>(control).Hidden() ? ES_PASSWORD : 0u)};
    case ControlKind::ComboBox: {
        const bool editable =
            static_cast<const ComboBox &>(control).Style() == ComboStyle::Editable;
        const DWORD style = editable ? CBS_DROPDOWN | CBS_AUTOHSCROLL : CBS_DROPDOWNLIST;
        return {L"COMBOBOX", WS_VSCROLL | WS_TABSTOP | WS_GROUP | style};
    }
    }
    return {L"STATIC", 0};
}

std::string ShownCaption(const Control &control) {
    if (control.Kind() == ControlKind::Label && !static_cast<const Label &>(control).FocusControl())
        return PlainLineEnds(control.Caption());
    return control.Caption();
}

} // namespace

HWND CreateControlWindow(Control &control, HWND form, int id, UINT dpi) {
    const WindowKind kind = KindOf(control);
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | kind.style;
    if (control.Visible())
        style |= WS_VISIBLE;
    if (!control.Enabled())
        style |= WS_DISABLED;
    const bool caption =
        control.Kind() == ControlKind::Button || control.Kind() == ControlKind::CheckBox ||
        control.Kind() == ControlKind::GroupBox || control.Kind() == ControlKind::Label;
    HWND window = CreateWindowExW(
        control.Kind() == ControlKind::Edit ? WS_EX_CLIENTEDGE : 0, kind.className,
        caption ? Widen(ShownCaption(control)).c_str() : L"", style, 0, 0, 0, 0, form,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (!window)
        return nullptr;
    if (control.Kind() == ControlKind::ComboBox)
        for (const std::string &item : static_cast<ComboBox &>(control).Items())
            SendMessageW(window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
    PlaceControlWindow(control, window, dpi);
    for (Property p : {Property::Text, Property::Checked, Property::Items, Property::ReadOnly,
                       Property::Progress})
        ApplyControlProperty(control, window, p);
    return window;
}

void PlaceControlWindow(const Control &control, HWND window, UINT dpi) {
    const Bounds &b = control.Place();
    int height = b.height;
    if (control.Kind() == ControlKind::ComboBox)
        height += kDropDownHeight;
    SetWindowPos(window, nullptr, Scaled(b.left, dpi), Scaled(b.top, dpi), Scaled(b.width, dpi),
                 Scaled(height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
    if (control.Kind() == ControlKind::ComboBox) // the edit field at the control's height
        SendMessageW(window, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), Scaled(b.height, dpi) - 6);
}

void ApplyControlProperty(Control &control, HWND window, Property what) {
    // A label draws itself anew for its text and its state.
    if (control.Kind() == ControlKind::Label &&
        (what == Property::Caption || what == Property::Enabled))
        InvalidateRect(window, nullptr, FALSE);
    switch (what) {
    case Property::Caption:
        if (control.Kind() == ControlKind::Button || control.Kind() == ControlKind::CheckBox ||
            control.Kind() == ControlKind::GroupBox || control.Kind() == ControlKind::Label)
            SetTextIfChanged(window, ShownCaption(control));
        break;
    case Property::Visible:
        ShowWindow(window, control.Visible() ? SW_SHOWNA : SW_HIDE);
        break;
    case Property::Enabled:
        EnableWindow(window, control.Enabled());
        break;
    case Property::Focus: {
        // Through the dialog manager, which also moves the default-button mark.
        HWND form = GetParent(window);
        if (IsWindowVisible(form) && IsWindowVisible(window))
            SendMessageW(form, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(window), TRUE);
        break;
    }
    case Property::Text:
    case Property::Items:
        if (control.Kind() == ControlKind::Edit) {
            SetTextIfChanged(window, static_cast<Edit &>(control).Text());
        } else if (control.Kind() == ControlKind::ComboBox) {
            auto &combo = static_cast<ComboBox &>(control);
            const auto current = SendMessageW(window, CB_GETCURSEL, 0, 0);
            if (current != combo.ItemIndex())
                SendMessageW(window, CB_SETCURSEL, static_cast<WPARAM>(combo.ItemIndex()), 0);
            if (combo.Style() == ComboStyle::Editable)
                SetTextIfChanged(window, combo.Text());
        }
        break;
    case Property::Checked:
        if (control.Kind() == ControlKind::CheckBox)
            SendMessageW(window, BM_SETCHECK,
                         static_cast<CheckBox &>(control).Checked() ? BST_CHECKED : BST_UNCHECKED,
                         0);
        break;
    case Property::ReadOnly:
        if (control.Kind() == ControlKind::Edit)
            SendMessageW(window, EM_SETREADONLY, static_cast<Edit &>(control).ReadOnly(), 0);
        break;
    case Property::Progress:
        if (control.Kind() == ControlKind::ProgressBar) {
            auto &bar = static_cast<ProgressBar &>(control);
            const ProgressSteps steps = ScaleProgress(bar.Min(), bar.Max(), bar.Position());
            if (SendMessageW(window, PBM_GETRANGE, FALSE, 0) != steps.maximum)
                SendMessageW(window, PBM_SETRANGE32, 0, steps.maximum);
            if (SendMessageW(window, PBM_GETPOS, 0, 0) != steps.position)
                SendMessageW(window, PBM_SETPOS, static_cast<WPARAM>(steps.position), 0);
        }
        break;
    case Property::Cursor:
    case Property::Title:
    case Property::Default:
        break;
    }
}

void ControlNotified(Control &control, HWND window, int code) {
    switch (control.Kind()) {
    case ControlKind::Button:
        if (code == BN_CLICKED)
            static_cast<Button &>(control).Click();
        break;
    case ControlKind::CheckBox:
        if (code == BN_CLICKED)
            static_cast<CheckBox &>(control).SetChecked(SendMessageW(window, BM_GETCHECK, 0, 0) ==
                                                        BST_CHECKED);
        break;
    case ControlKind::Edit:
        if (code == EN_CHANGE)
            static_cast<Edit &>(control).SetText(WindowText(window));
        break;
    case ControlKind::ComboBox: {
        auto &combo = static_cast<ComboBox &>(control);
        if (code == CBN_EDITCHANGE) {
            combo.SetText(WindowText(window));
        } else if (code == CBN_SELCHANGE) {
            // The edit field shows the chosen item only after this notification.
            const auto index = static_cast<int>(SendMessageW(window, CB_GETCURSEL, 0, 0));
            if (combo.Style() == ComboStyle::Editable && index >= 0 &&
                index < static_cast<int>(combo.Items().size()))
                combo.SetText(combo.Items()[static_cast<std::size_t>(index)]);
            else
                combo.SetItemIndex(index);
        }
        break;
    }
    default:
        break;
    }
}

void DrawLabel(const Label &label, const DRAWITEMSTRUCT &item) {
    HDC dc = item.hDC;
    RECT place = item.rcItem;
    FillRect(dc, &place, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const auto font = reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0));
    HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc,
                 GetSysColor(IsWindowEnabled(item.hwndItem) ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
    const UINT format =
        DT_SINGLELINE | DT_LEFT | DT_TOP | (label.FocusControl() ? 0u : DT_NOPREFIX);
    // One line: a line end is a space there.
    std::string text = PlainLineEnds(label.Caption());
    std::replace(text.begin(), text.end(), '\n', ' ');
    const int width = place.right - place.left;
    text = ShortenInMiddle(text, [&](const std::string &shown) {
        const std::wstring wide = Widen(shown);
        RECT needed{0, 0, 0, 0};
        DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &needed, format | DT_CALCRECT);
        return needed.right - needed.left <= width;
    });
    const std::wstring wide = Widen(text);
    DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &place, format);
    SelectObject(dc, old);
}

int CaptionWidth(HWND window, HFONT font, const std::string &caption) {
    const std::wstring text = Widen(StripAccelerator(caption));
    SIZE size{0, 0};
    if (HDC dc = GetDC(window)) {
        HGDIOBJ old = SelectObject(dc, font);
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(window, dc);
    }
    return size.cx;
}

int CheckBoxWidth(HWND window, HFONT font, const std::string &caption) {
    const UINT dpi = WindowDpi(window);
    return CaptionWidth(window, font, caption) + MetricForDpi(SM_CXMENUCHECK, dpi) + Scaled(8, dpi);
}

} // namespace gui::win32

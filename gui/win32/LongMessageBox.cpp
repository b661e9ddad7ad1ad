#include "gui/win32/LongMessageBox.h"

#include "gui/win32/DialogTemplate.h"
#include "gui/win32/Dpi.h"
#include "platform/win32/Text.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

namespace gui::win32 {

namespace {

using platform::win32::Widen;

// Sizes at 96 DPI.
constexpr int kTextWidth = 560;      // the wrapped text, as wide as in a normal dialog
constexpr int kLeastTextWidth = 200; // on a work area too narrow for that
constexpr int kMargin = 11;          // around the text field and the buttons
constexpr int kTextPadding = 4;      // between the field's border and its text, left and right
constexpr int kTextRim = 2;          // above and below the text in the field
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kButtonGap = 6;
// The box takes at most this share of the work area's height, in per cent; the field then
// shows at least this many lines.
constexpr int kMostHeight = 70;
constexpr int kLeastLines = 3;
constexpr int kFieldId = 100;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;

struct BoxButton {
    int id;
    const wchar_t *label;
};

// The buttons of the system's box of that type, its labels and answers.
std::vector<BoxButton> ButtonsOf(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_YESNOCANCEL:
        return {{IDYES, L"&Yes"}, {IDNO, L"&No"}, {IDCANCEL, L"Cancel"}};
    case MB_YESNO:
        return {{IDYES, L"&Yes"}, {IDNO, L"&No"}};
    default:
        return {{IDOK, L"OK"}};
    }
}

RECT WorkArea(HWND window) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
    return monitor.rcWork;
}

// The width the text is wrapped at: a normal dialog's, less where the work area is narrower
// than the box would be.
int TextWidth(UINT dpi, const RECT &area) {
    const int room = (area.right - area.left) * 9 / 10 -
                     Scaled(2 * kMargin + 2 * kTextPadding, dpi) - MetricForDpi(SM_CXVSCROLL, dpi) -
                     2 * MetricForDpi(SM_CXEDGE, dpi);
    return std::max(Scaled(kLeastTextWidth, dpi), std::min(Scaled(kTextWidth, dpi), room));
}

// The text field's lines end with CR LF.
std::wstring FieldText(const std::string &text) {
    std::string out;
    // A line end at the end would be an empty line to scroll to.
    const std::size_t end = text.find_last_not_of('\n') + 1;
    for (char c : text.substr(0, end)) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return Widen(out);
}

// The text field's keys: the arrows and the page keys scroll it and control characters reach
// it (Ctrl+C copies); Enter, Escape, Tab and letters go to the dialog manager, for which a
// letter is a button's access key also without Alt, as in the system's box. Without
// DLGC_HASSETSEL the dialog manager does not select the whole text when the field gets the
// focus.
LRESULT CALLBACK FieldKeys(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR) {
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(field, FieldKeys, 0);
    if (message != WM_GETDLGCODE)
        return DefSubclassProc(field, message, wParam, lParam);
    const auto *key = reinterpret_cast<const MSG *>(lParam);
    const bool controlCharacter = key && key->message == WM_CHAR && key->wParam < 0x20;
    return DLGC_WANTARROWS | (controlCharacter ? DLGC_WANTCHARS : 0);
}

class LongBox {
  public:
    LongBox(const std::string &text, const std::string &caption, UINT type)
        : text_(FieldText(text)), caption_(Widen(caption)), buttons_(ButtonsOf(type)) {}
    ~LongBox() {
        if (font_)
            DeleteObject(font_);
    }
    LongBox(const LongBox &) = delete;
    LongBox &operator=(const LongBox &) = delete;

    // The dialog's answer, or 0 when it could not be shown.
    INT_PTR Run(HWND owner) {
        owner_ = owner;
        EmptyTemplate dialog(kStyle, kExStyle);
        const INT_PTR answer = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(),
                                                       owner, Proc, reinterpret_cast<LPARAM>(this));
        return answer > 0 ? answer : 0;
    }

  private:
    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            reinterpret_cast<LongBox *>(lParam)->Initialise(dialog);
            return FALSE; // the focus is set
        }
        auto *self = reinterpret_cast<LongBox *>(GetWindowLongPtrW(dialog, DWLP_USER));
        return self ? self->Handle(message, wParam, lParam) : FALSE;
    }

    void Initialise(HWND dialog) {
        dialog_ = dialog;
        KeepDialogLayoutOwn(dialog_);
        SetWindowTextW(dialog_, caption_.c_str());
        HINSTANCE instance = GetModuleHandleW(nullptr);
        field_ = CreateWindowExW(
            WS_EX_CLIENTEDGE, L"EDIT", L"",
            WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | WS_GROUP | ES_MULTILINE | ES_READONLY,
            0, 0, 0, 0, dialog_, reinterpret_cast<HMENU>(kFieldId), instance, nullptr);
        SetWindowSubclass(field_, FieldKeys, 0, 0);
        SetWindowTextW(field_, text_.c_str());
        for (const BoxButton &button : buttons_) {
            const bool first = &button == &buttons_.front();
            CreateWindowExW(0, L"BUTTON", button.label,
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP |
                                (first ? BS_DEFPUSHBUTTON | WS_GROUP : BS_PUSHBUTTON),
                            0, 0, 0, 0, dialog_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(button.id)), instance,
                            nullptr);
        }
        Layout(WindowDpi(owner_ ? owner_ : dialog_));
        Centre();
        // Enter presses the first button wherever the focus is.
        SendMessageW(dialog_, DM_SETDEFID, static_cast<WPARAM>(buttons_.front().id), 0);
        // Access keys are underlined from the start, not only once Alt has been pressed.
        SendMessageW(dialog_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL), 0);
        // The text has the focus, so that the keys scroll it at once; its start shows.
        SetFocus(field_);
    }

    // Sizes the font, the field, the buttons and the window for `dpi` and the work area.
    void Layout(UINT dpi) {
        HFONT old = font_;
        font_ = CreateMessageFont(dpi);
        const RECT area = WorkArea(owner_ ? owner_ : dialog_);
        const int margin = Scaled(kMargin, dpi);
        const int padding = Scaled(kTextPadding, dpi);
        const int edge = MetricForDpi(SM_CXEDGE, dpi);
        const int buttonWidth = Scaled(kButtonWidth, dpi);
        const int buttonHeight = Scaled(kButtonHeight, dpi);
        const int gap = Scaled(kButtonGap, dpi);
        const int fieldWidth =
            TextWidth(dpi, area) + 2 * padding + 2 * edge + MetricForDpi(SM_CXVSCROLL, dpi);
        // The field wraps its text at its width: its lines are counted once it has it.
        SendMessageW(field_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        SendMessageW(field_, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN,
                     MAKELPARAM(padding, padding));
        SetWindowPos(field_, nullptr, margin, margin, fieldWidth, buttonHeight,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        const int lines = static_cast<int>(SendMessageW(field_, EM_GETLINECOUNT, 0, 0));
        const int lineHeight = LineHeight();
        const SIZE frame = WindowSizeFor(0, 0, kStyle, kExStyle, dpi);
        const int rim = Scaled(kTextRim, dpi);
        const int fixed = frame.cy + 3 * margin + buttonHeight + 2 * edge + 2 * rim;
        const int room = (area.bottom - area.top) * kMostHeight / 100 - fixed;
        const int shown = std::min(lines, std::max(kLeastLines, room / lineHeight));
        const int fieldHeight = SizeField(fieldWidth, shown * lineHeight + 2 * edge, rim);

        const int width = 2 * margin + fieldWidth;
        const int count = static_cast<int>(buttons_.size());
        int x = width - margin - count * buttonWidth - (count - 1) * gap;
        const int y = 2 * margin + fieldHeight;
        for (const BoxButton &button : buttons_) {
            HWND window = GetDlgItem(dialog_, button.id);
            SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
            SetWindowPos(window, nullptr, x, y, buttonWidth, buttonHeight,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            x += buttonWidth + gap;
        }
        SetWindowPos(dialog_, nullptr, 0, 0, frame.cx + width, frame.cy + y + buttonHeight + margin,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        InvalidateRect(dialog_, nullptr, TRUE);
        if (old)
            DeleteObject(old);
    }

    // Gives the field `width` and a client area of `height` pixels plus `rim` above and below
    // the lines, which start that far below the border as they start right of it; returns its
    // height. The edit control keeps its lines a little inside the rectangle it is given
    // (wine: a pixel at the top and at the bottom, where a line then is missing): the field is
    // made that much taller.
    int SizeField(int width, int height, int rim) {
        int inside = 0;
        for (int pass = 0; pass < 2; ++pass) {
            SetWindowPos(field_, nullptr, 0, 0, width, height + 2 * (rim + inside),
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            RECT given{};
            GetClientRect(field_, &given);
            InflateRect(&given, 0, -rim);
            SendMessageW(field_, EM_SETRECTNP, 0, reinterpret_cast<LPARAM>(&given));
            RECT taken{};
            SendMessageW(field_, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&taken));
            if (inside > 0 || taken.top <= given.top)
                break;
            inside = taken.top - given.top;
        }
        return height + 2 * (rim + inside);
    }

    int LineHeight() const {
        TEXTMETRICW metrics{};
        HDC dc = GetDC(field_);
        HGDIOBJ old = SelectObject(dc, font_);
        GetTextMetricsW(dc, &metrics);
        SelectObject(dc, old);
        ReleaseDC(field_, dc);
        return std::max(1, static_cast<int>(metrics.tmHeight));
    }

    // In the middle of the owner (or of the work area), inside the work area.
    void Centre() {
        const RECT area = WorkArea(owner_ ? owner_ : dialog_);
        RECT over = area;
        if (owner_ && IsWindowVisible(owner_))
            GetWindowRect(owner_, &over);
        RECT box{};
        GetWindowRect(dialog_, &box);
        const LONG width = box.right - box.left, height = box.bottom - box.top;
        const LONG x =
            std::max(area.left, std::min((over.left + over.right - width) / 2, area.right - width));
        const LONG y = std::max(
            area.top, std::min((over.top + over.bottom - height) / 2, area.bottom - height));
        SetWindowPos(dialog_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    bool IsButton(int id) const {
        return std::any_of(buttons_.begin(), buttons_.end(),
                           [id](const BoxButton &b) { return b.id == id; });
    }

    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
        case WM_COMMAND: {
            // A button, its access key, Enter (the default button), Escape or the close box
            // (IDCANCEL).
            const int id = LOWORD(wParam);
            if (HIWORD(wParam) == BN_CLICKED && (id == IDCANCEL || IsButton(id)))
                EndDialog(dialog_, id);
            return TRUE;
        }
        case WM_CTLCOLORSTATIC: // the read-only field, white as a text to read
            if (reinterpret_cast<HWND>(lParam) != field_)
                return FALSE;
            SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOWTEXT));
            SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
        case WM_DPICHANGED: {
            // Moved to a monitor of another DPI: laid out anew where the system suggests.
            Layout(HIWORD(wParam));
            const auto *suggested = reinterpret_cast<const RECT *>(lParam);
            SetWindowPos(dialog_, nullptr, suggested->left, suggested->top, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            return TRUE;
        }
        default:
            return FALSE;
        }
    }

    std::wstring text_;
    std::wstring caption_;
    std::vector<BoxButton> buttons_;
    HWND owner_ = nullptr;
    HWND dialog_ = nullptr;
    HWND field_ = nullptr;
    HFONT font_ = nullptr;
};

} // namespace

bool FitsMessageBox(HWND owner, const std::string &text) {
    const UINT dpi = WindowDpi(owner);
    const RECT area = WorkArea(owner);
    HFONT font = CreateMessageFont(dpi);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    RECT needed{0, 0, TextWidth(dpi, area), 0};
    const std::wstring wide = Widen(text);
    DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &needed,
              DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    return needed.bottom - needed.top <= (area.bottom - area.top) / 3;
}

int LongMessageBox(HWND owner, const std::string &text, const std::string &caption, UINT type) {
    LongBox box(text, caption, type);
    if (const INT_PTR answer = box.Run(owner))
        return static_cast<int>(answer);
    return MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), type);
}

} // namespace gui::win32

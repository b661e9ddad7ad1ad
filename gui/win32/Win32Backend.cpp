#include "gui/win32/Win32Backend.h"

#include "gui/Application.h"
#include "gui/LayoutFit.h"
#include "gui/PlainText.h"
#include "gui/SelectBackend.h"
#include "gui/win32/ConsoleFrontEnd.h"
#include "gui/win32/Dpi.h"
#include "gui/win32/LongMessageBox.h"
#include "platform/StopRequests.h"
#include "platform/win32/Text.h"

#include <commctrl.h>
#include <ole2.h>

#include <algorithm>
#include <cwchar>

namespace gui::win32 {

namespace {

using platform::win32::Widen;

const wchar_t *const kApplicationClass = L"DownloadApplication";
// The program's icon in its resources (app/resources/download.rc).
const wchar_t *const kIconResource = L"MAINICON";
// Posted to the application window when it was activated: the program's top window takes
// the activation over.
constexpr UINT kActivateTopWindow = WM_APP + 2;

void RegisterApplicationClass(WNDPROC procedure) {
    WNDCLASSEXW c{};
    c.cbSize = sizeof c;
    c.lpfnWndProc = procedure;
    c.hInstance = GetModuleHandleW(nullptr);
    c.hCursor = LoadCursor(nullptr, IDC_ARROW);
    c.hIcon = static_cast<HICON>(
        LoadImageW(c.hInstance, kIconResource, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    c.lpszClassName = kApplicationClass;
    RegisterClassExW(&c);
}

BOOL CALLBACK EndMessageBox(HWND window, LPARAM forms) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    const auto *own = reinterpret_cast<const std::vector<HWND> *>(forms);
    if (std::wcscmp(name, L"#32770") == 0 &&
        std::find(own->begin(), own->end(), window) == own->end())
        EndDialog(window, IDCANCEL);
    return TRUE;
}

} // namespace

Win32Backend *Win32Backend::current_ = nullptr;

std::unique_ptr<Win32Backend> Win32Backend::Create() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    RegisterApplicationClass(ApplicationProc);
    // Placed in the middle of the screen without a size: only its task bar button is seen.
    HWND application =
        CreateWindowExW(0, kApplicationClass, L"",
                        WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPSIBLINGS,
                        GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0,
                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!application)
        return nullptr;
    return std::unique_ptr<Win32Backend>(new Win32Backend(application));
}

Win32Backend::Win32Backend(HWND application) : application_(application) {
    current_ = this;
    // The picture decoder and the shell's "open" want the thread in a single-threaded
    // apartment.
    oleReady_ = SUCCEEDED(OleInitialize(nullptr));
    // Keys for the main window pass the dialog manager whichever loop takes them from the
    // queue: the socket waits of the platform dispatch the thread's messages themselves.
    hook_ = SetWindowsHookExW(WH_GETMESSAGE, KeyboardHook, nullptr, GetCurrentThreadId());
}

Win32Backend::~Win32Backend() {
    if (hook_)
        UnhookWindowsHookEx(hook_);
    current_ = nullptr; // the forms may be gone: the application window no longer reaches them
    main_ = nullptr;
    windows_.clear();
    DestroyWindow(application_);
    for (auto &[size, icon] : icons_)
        if (icon)
            DestroyIcon(icon);
    if (measureFont_)
        DeleteObject(measureFont_);
    if (oleReady_)
        OleUninitialize();
}

LRESULT CALLBACK Win32Backend::KeyboardHook(int code, WPARAM wParam, LPARAM lParam) {
    auto *message = reinterpret_cast<MSG *>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && current_ && current_->main_ &&
        message->message >= WM_KEYFIRST && message->message <= WM_KEYLAST && message->hwnd) {
        FormWindow *main = current_->Find(*current_->main_);
        if (main && main->Handle() && GetAncestor(message->hwnd, GA_ROOT) == main->Handle()) {
            main->QueueKeyboardMessage(*message);
            message->message = WM_NULL;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK Win32Backend::ApplicationProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    Win32Backend *self = current_;
    switch (message) {
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && !IsIconic(window))
            PostMessageW(window, kActivateTopWindow, 0, 0);
        return 0;
    case kActivateTopWindow:
        if (self)
            if (HWND top = self->TopWindow())
                SetForegroundWindow(top);
        return 0;
    case WM_CLOSE: // Close on the task bar button: as the main window's close box
        if (self && self->main_)
            self->main_->PressCloseBox();
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // The session ends (a logoff, a shutdown): the program ends as the system asks, not
        // as the user's Cancel would; what is under way is kept.
        if (wParam && self && self->main_) {
            platform::NoteSystemEnding();
            self->main_->PressCloseBox();
        }
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

FormWindow *Win32Backend::Find(const Form &form) const {
    auto found = windows_.find(&form);
    return found == windows_.end() ? nullptr : found->second.get();
}

HWND Win32Backend::TopWindow() const {
    if (!modal_.empty() && modal_.back()->Handle())
        return modal_.back()->Handle();
    if (main_ && main_->Visible())
        if (FormWindow *main = Find(*main_))
            return main->Handle();
    return nullptr;
}

HICON Win32Backend::Icon(bool large, UINT dpi) {
    const int size = MetricForDpi(large ? SM_CXICON : SM_CXSMICON, dpi);
    auto found = icons_.find(size);
    if (found != icons_.end())
        return found->second;
    auto icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), kIconResource, IMAGE_ICON, size, size, 0));
    icons_[size] = icon;
    return icon;
}

void Win32Backend::Minimise() {
    ShowWindow(application_, SW_MINIMIZE);
}

void Win32Backend::ControlChanged(Control &control, Property what) {
    if (FormWindow *window = Find(control.OwnerForm()))
        window->ControlChanged(control, what);
}

void Win32Backend::FormChanged(Form &form, Property what) {
    FormWindow *window = Find(form);
    if (!window)
        return;
    if (what == Property::Caption)
        window->CaptionChanged();
    else if (what == Property::Default)
        window->ApplyDefaultButton();
}

void Win32Backend::ShowCursorNow() const {
    // Only while the pointer is over a window of this program: the cursor is shared.
    POINT at{};
    GetCursorPos(&at);
    HWND under = WindowFromPoint(at);
    if (under && GetWindowThreadProcessId(under, nullptr) == GetCurrentThreadId())
        SetCursor(LoadCursor(nullptr, busy_ ? IDC_WAIT : IDC_ARROW));
}

void Win32Backend::ApplicationChanged(Application &app, Property what) {
    if (what == Property::Title) {
        SetWindowTextW(application_, Widen(app.Title()).c_str());
    } else if (what == Property::Cursor) {
        busy_ = app.Busy();
        ShowCursorNow();
    }
}

void Win32Backend::ShowForm(Form &form) {
    const bool isMain = &form == form.App().MainForm();
    FormWindow *window = Find(form);
    if (!window) {
        auto created = std::make_unique<FormWindow>(static_cast<FormHost &>(*this), form, isMain);
        window = created.get();
        windows_[&form] = std::move(created);
        HWND owner = isMain ? application_ : TopWindow();
        if (!window->CreateModeless(owner ? owner : application_))
            return;
    }
    if (isMain) {
        main_ = &form;
        SetWindowTextW(application_, Widen(form.App().Title()).c_str());
        ShowWindow(application_, SW_SHOWNA);
    }
    ShowWindow(window->Handle(), SW_SHOW);
    SetForegroundWindow(window->Handle());
    window->FocusFirst();
    if (busy_)
        ShowCursorNow();
}

void Win32Backend::EndModalLoops() {
    std::vector<HWND> forms;
    for (FormWindow *window : modal_) {
        forms.push_back(window->Handle());
        window->End();
    }
    if (main_)
        if (FormWindow *main = Find(*main_))
            forms.push_back(main->Handle());
    EnumThreadWindows(GetCurrentThreadId(), EndMessageBox, reinterpret_cast<LPARAM>(&forms));
}

void Win32Backend::HideForm(Form &form) {
    FormWindow *window = Find(form);
    if (&form != form.App().MainForm()) {
        if (window)
            window->End();
        return;
    }
    mainClosed_ = true;
    EndModalLoops();
    if (window && window->Handle())
        ShowWindow(window->Handle(), SW_HIDE);
    ShowWindow(application_, SW_HIDE);
    PostMessageW(application_, WM_NULL, 0, 0); // wakes the main loop to see it
}

void Win32Backend::RunModal(Form &form) {
    if (!mainClosed_ && !Find(form)) {
        auto created = std::make_unique<FormWindow>(static_cast<FormHost &>(*this), form, false);
        FormWindow *window = created.get();
        windows_[&form] = std::move(created);
        HWND owner = TopWindow();
        modal_.push_back(window);
        window->RunModal(owner ? owner : application_);
        modal_.pop_back();
        windows_.erase(&form);
    }
    form.Close(); // as Cancel when it ended otherwise (the program is closing)
}

void Win32Backend::Run(Form &main) {
    MSG message;
    while (main.Visible()) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) { // WM_QUIT: left for an outer loop that may wait for it
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (got < 0)
            break;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void Win32Backend::ProcessMessages() {
    MSG message;
    for (int i = 0; i < 256 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

MessageResult Win32Backend::ShowMessage(const std::string &text, const std::string &caption,
                                        MessageButtons buttons) {
    // The answer of Escape: Cancel, No or OK; also when the program is closing.
    const MessageResult cautious = buttons == MessageButtons::YesNoCancel ? MessageResult::Cancel
                                   : buttons == MessageButtons::YesNo     ? MessageResult::No
                                                                          : MessageResult::Ok;
    if (mainClosed_)
        return cautious;
    UINT type = buttons == MessageButtons::YesNoCancel ? MB_YESNOCANCEL
                : buttons == MessageButtons::YesNo     ? MB_YESNO
                                                       : MB_OK;
    HWND owner = TopWindow();
    if (!owner)
        type |= MB_TASKMODAL;
    // A text too long for the system's box (the usage text) gets a box that scrolls.
    const std::string shown = PlainLineEnds(text);
    const int answer = FitsMessageBox(owner, shown)
                           ? MessageBoxW(owner, Widen(shown).c_str(), Widen(caption).c_str(), type)
                           : LongMessageBox(owner, shown, caption, type);
    if (mainClosed_)
        return cautious;
    switch (answer) {
    case IDYES:
        return MessageResult::Yes;
    case IDNO:
        return MessageResult::No;
    case IDCANCEL:
        return cautious;
    default:
        return MessageResult::Ok;
    }
}

int Win32Backend::CaptionWidth(const Control &control) {
    // The layout's pixels are those of 96 DPI: captions are measured in the form font there.
    if (!measureFont_)
        measureFont_ = CreateFormFont(96);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, measureFont_);
    const auto width = [dc](const std::string &text) {
        const std::wstring wide = Widen(text);
        SIZE size{0, 0};
        GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
        return static_cast<int>(size.cx);
    };
    // A check box's box and its gaps, as the form window's own check takes them; a drop-down
    // list's arrow is a scroll bar's width.
    const CaptionRoom room{16, 0, MetricForDpi(SM_CXMENUCHECK, 96) + 8, 20,
                           MetricForDpi(SM_CXVSCROLL, 96) + 10};
    const int needed = NeededCaptionWidth(control, width, room);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return needed;
}

void Win32Backend::Repaint(Form &form) {
    FormWindow *window = Find(form);
    if (window && window->Handle() && IsWindowVisible(window->Handle()))
        RedrawWindow(window->Handle(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

} // namespace gui::win32

namespace gui {

std::unique_ptr<Backend> CreateDisplayBackend(std::string &) {
    if (auto backend = win32::Win32Backend::Create())
        return backend;
    // Where no window can be created (no display), the console is the front end, without a
    // note: that is its ordinary case.
    win32::ConnectConsoleFrontEnd();
    return nullptr;
}

} // namespace gui

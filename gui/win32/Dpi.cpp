#include "gui/win32/Dpi.h"

#include "platform/Catalogue.h"

namespace gui::win32 {

namespace {

// A function of user32 when the running system has it, else nullptr.
template <class Function> Function User32Function(const char *name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    FARPROC found = user32 ? GetProcAddress(user32, name) : nullptr;
    // Through void (*)(), which converts to any function pointer without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

UINT ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

} // namespace

UINT WindowDpi(HWND window) {
    static const auto forWindow = User32Function<UINT(WINAPI *)(HWND)>("GetDpiForWindow");
    if (forWindow && window) {
        const UINT dpi = forWindow(window);
        if (dpi > 0)
            return dpi;
    }
    return ScreenDpi();
}

SIZE WindowSizeFor(int width, int height, DWORD style, DWORD exStyle, UINT dpi) {
    static const auto adjust = User32Function<BOOL(WINAPI *)(RECT *, DWORD, BOOL, DWORD, UINT)>(
        "AdjustWindowRectExForDpi");
    RECT r{0, 0, Scaled(width, dpi), Scaled(height, dpi)};
    if (!adjust || !adjust(&r, style, FALSE, exStyle, dpi))
        AdjustWindowRectEx(&r, style, FALSE, exStyle);
    return {r.right - r.left, r.bottom - r.top};
}

int MetricForDpi(int index, UINT dpi) {
    static const auto forDpi = User32Function<int(WINAPI *)(int, UINT)>("GetSystemMetricsForDpi");
    return forDpi ? forDpi(index, dpi) : MulDiv(GetSystemMetrics(index), dpi, ScreenDpi());
}

void KeepDialogLayoutOwn(HWND dialog) {
    static const auto behavior =
        User32Function<BOOL(WINAPI *)(HWND, DIALOG_DPI_CHANGE_BEHAVIORS,
                                      DIALOG_DPI_CHANGE_BEHAVIORS)>("SetDialogDpiChangeBehavior");
    if (behavior)
        behavior(dialog, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
}

HFONT CreateFormFont(UINT dpi, int pixelsAt96) {
    // The bitmap face has the characters of English only; the scalable one is linked by the
    // system to faces with those of every other language.
    const bool bitmap = dpi == 96 && platform::TextLanguage() == "en";
    return CreateFontW(-Scaled(pixelsAt96, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS,
                       bitmap ? L"MS Sans Serif" : L"Microsoft Sans Serif");
}

HFONT CreateMessageFont(UINT dpi) {
    static const auto forDpi = User32Function<BOOL(WINAPI *)(UINT, UINT, void *, UINT, UINT)>(
        "SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
        return CreateFontIndirectW(&metrics.lfMessageFont);
    // Without the per-monitor function the metrics are the screen's: scaled from its DPI.
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return CreateFormFont(dpi);
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi),
                                            static_cast<int>(ScreenDpi()));
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

} // namespace gui::win32

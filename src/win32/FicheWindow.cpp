#include "win32/FicheWindow.h"

#include "form/support_events.h"

#include "platform/module_error.h"
#include "platform/wide_text.h"
#include "valmora_config.h"
#include "win32/resource_ids.h"

#include <commctrl.h>
#include <windowsx.h>
#include <shellapi.h>

#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <exception>
#include <initializer_list>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace {

constexpr wchar_t kClassName[] = L"Valmora.FicheWindow";
constexpr const char *kTitle = "Configurateur Valmora";
constexpr const char *kInstructionText = "Une fois votre chiffrage terminé veuillez : ";

// Fixed frame with a caption and a close box only.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME;

// Control identifiers: away from IDOK and IDCANCEL, which the dialog keyboard sends for
// Enter and Escape.
constexpr int kImgVestiora = 1001;
constexpr int kImgDuranel = 1002;
constexpr int kLblChiffrage = 1003;
constexpr int kBtnDevisRecuperer = 1004;
constexpr int kLblOu = 1005;
constexpr int kBtnAnnulerRecuperation = 1006;
constexpr int kLblVersion = 1007;

// Posted by the first paint: the activation sequence starts once the window is drawn.
constexpr UINT kActivateMessage = WM_APP + 1;
constexpr UINT_PTR kActivationTimer = 1;
constexpr UINT kActivationFallbackMs = 500;

// How often the wait for a worker gives the logic its tick.
constexpr std::chrono::milliseconds kTickInterval{250};

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);

// A user32 function that older systems (and Wine) may lack; null when absent.
template <typename Function>
Function user32Function(const char *name)
{
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (!user32)
        return nullptr;
    // Through void (*)(), the one function pointer type any other may be cast from.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(user32, name)));
}

UINT windowDpi(HWND window)
{
    using GetDpiForWindowFunction = UINT(WINAPI *)(HWND);
    static const auto getDpiForWindow = user32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    if (getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(window))
            return dpi;
    }
    // Before per-monitor dpi, a dpi-aware process draws at the system dpi.
    const win32::WindowDc screen(nullptr);
    const int dpi = screen.get() ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The frame around a client rectangle at `dpi`.
void adjustToFrame(RECT &rect, UINT dpi)
{
    using AdjustWindowRectExForDpiFunction = BOOL(WINAPI *)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = user32Function<AdjustWindowRectExForDpiFunction>("AdjustWindowRectExForDpi");
    if (adjustForDpi && adjustForDpi(&rect, kWindowStyle, FALSE, kWindowExStyle, dpi))
        return;
    AdjustWindowRectEx(&rect, kWindowStyle, FALSE, kWindowExStyle);
}

MONITORINFO primaryMonitor()
{
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    return monitor;
}

void registerWindowClass(HINSTANCE instance, WNDPROC procedure)
{
    static const bool registered = [&] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = GetStockBrush(WHITE_BRUSH);
        windowClass.lpszClassName = kClassName;
        return RegisterClassExW(&windowClass) != 0;
    }();
    // Window creation fails only when the session runs out of resources.
    if (!registered)
        throw std::bad_alloc();
}

bool hasBoldFace(const wchar_t *family)
{
    const win32::WindowDc screen(nullptr);
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, family, LF_FACESIZE);
    struct Search {
        const wchar_t *family;
        bool found;
    } search{family, false};
    EnumFontFamiliesExW(
        screen.get(), &wanted,
        [](const LOGFONTW *face, const TEXTMETRICW *, DWORD, LPARAM data) -> int {
            auto *state = reinterpret_cast<Search *>(data);
            if (face->lfWeight >= FW_BOLD && lstrcmpiW(face->lfFaceName, state->family) == 0) {
                state->found = true;
                return 0;
            }
            return 1;
        },
        reinterpret_cast<LPARAM>(&search), 0);
    return search.found;
}

// The instruction line's face: bold "MS Sans Serif", or bold Tahoma where that family has
// no bold face (Windows' and Wine's have none, and a synthesised bold is hard to read).
const wchar_t *captionFace()
{
    static const bool msSansSerifBold = hasBoldFace(L"MS Sans Serif");
    return msSansSerifBold ? L"MS Sans Serif" : L"Tahoma";
}

win32::unique_hfont makeFont(const wchar_t *face, int points, LONG weight, UINT dpi)
{
    LOGFONTW font{};
    font.lfHeight = -MulDiv(points, static_cast<int>(dpi), 72);
    font.lfWeight = weight;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    win32::unique_hfont created(CreateFontIndirectW(&font));
    if (!created)
        throw std::bad_alloc();
    return created;
}

void moveControl(HWND control, int left, int top, int width, int height)
{
    SetWindowPos(control, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void setControlFont(HWND control, HFONT font)
{
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// A PNG logo from the executable's resources, laid over white, in a 32-bit top-down DIB
// section at the picture's own size. Null when the resource is missing or unreadable:
// its place then stays white.
win32::unique_hbitmap decodeLogo(HINSTANCE instance, int resourceId, int &width, int &height)
{
    const HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(resourceId), MAKEINTRESOURCEW(10)); // RT_RCDATA
    const HGLOBAL loaded = resource ? LoadResource(instance, resource) : nullptr;
    const void *data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return {};
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, SizeofResource(instance, resource)))
        return {};
    image.format = PNG_FORMAT_BGRA; // the byte order of a 32-bit DIB

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = static_cast<LONG>(image.width);
    info.bmiHeader.biHeight = -static_cast<LONG>(image.height); // top-down, as libpng writes rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    win32::unique_hbitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap) {
        png_image_free(&image);
        return {};
    }
    const auto stride = static_cast<png_int_32>(PNG_IMAGE_ROW_STRIDE(image));
    if (!png_image_finish_read(&image, nullptr, bits, stride, nullptr))
        return {};

    // libpng gives 8-bit sRGB that is not premultiplied: blend each pixel over white.
    const std::size_t pixels = std::size_t{image.width} * image.height;
    auto *pixel = static_cast<unsigned char *>(bits);
    for (std::size_t i = 0; i < pixels; ++i, pixel += 4) {
        const unsigned alpha = pixel[3];
        for (int channel = 0; channel < 3; ++channel)
            pixel[channel] = static_cast<unsigned char>((pixel[channel] * alpha + 255 * (255 - alpha) + 127) / 255);
        pixel[3] = 255;
    }
    width = static_cast<int>(image.width);
    height = static_cast<int>(image.height);
    return bitmap;
}

} // namespace

FicheWindow::FicheWindow(HINSTANCE instance, GatewayEndpoint endpoint)
    : fiche_(std::make_unique<TFicheConfigurateurRecupDevis>(*this, std::move(endpoint)))
    , instance_(instance)
{
    imgVestiora_.resourceId = IDR_LOGO_VESTIORA;
    imgDuranel_.resourceId = IDR_LOGO_DURANEL;
    imgDuranel_.stretched = true;

    registerWindowClass(instance_, &FicheWindow::windowProc);
    // Created on the primary monitor, where it is shown, so that it starts at that dpi.
    const RECT area = primaryMonitor().rcWork;
    const HWND created =
        CreateWindowExW(kWindowExStyle, kClassName, platform::toWide(kTitle).c_str(), kWindowStyle, area.left,
                        area.top, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance_, this);
    if (!created) {
        if (creationFailure_)
            std::rethrow_exception(creationFailure_);
        throw std::bad_alloc();
    }
    placeOnScreen();
}

FicheWindow::~FicheWindow()
{
    if (window_) {
        // No message of the ending window reaches this object any more.
        SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
        window_.reset();
    }
}

LRESULT CALLBACK FicheWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto *self = static_cast<FicheWindow *>(reinterpret_cast<const CREATESTRUCTW *>(lParam)->lpCreateParams);
        self->window_.reset(hwnd);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto *self = reinterpret_cast<FicheWindow *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    // No exception crosses the system's frames: what escapes a handler is shown and
    // the window goes on.
    try {
        return self->handleMessage(hwnd, message, wParam, lParam);
    } catch (...) {
        if (message == WM_CREATE) {
            // The window is not made; the constructor throws this instead.
            self->creationFailure_ = std::current_exception();
            return -1;
        }
        self->showCurrentException();
        return 0;
    }
}

LRESULT FicheWindow::handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
        HANDLE_MSG(hwnd, WM_CREATE, OnCreate);
        HANDLE_MSG(hwnd, WM_PAINT, OnPaint);
        HANDLE_MSG(hwnd, WM_COMMAND, OnCommand);
        HANDLE_MSG(hwnd, WM_CTLCOLORSTATIC, OnCtlColor);
        HANDLE_MSG(hwnd, WM_CTLCOLORBTN, OnCtlColor);
        HANDLE_MSG(hwnd, WM_DRAWITEM, OnDrawItem);
        HANDLE_MSG(hwnd, WM_SETCURSOR, OnSetCursor);
        HANDLE_MSG(hwnd, WM_SETFOCUS, OnSetFocus);
        HANDLE_MSG(hwnd, WM_TIMER, OnTimer);
        HANDLE_MSG(hwnd, WM_CLOSE, OnClose);
        HANDLE_MSG(hwnd, WM_DESTROY, OnDestroy);
    case WM_NCDESTROY:
        OnNcDestroy(hwnd);
        break; // the default handling ends the window
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE)
            fiche_->userReturned(); // back from the browser
        break;
    case WM_DPICHANGED:
        OnDpiChanged(hwnd, HIWORD(wParam), reinterpret_cast<const RECT *>(lParam));
        return 0;
    case DM_GETDEFID:
        return OnGetDefId(hwnd);
    case kActivateMessage:
        OnActivateForm(hwnd);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

BOOL FicheWindow::OnCreate(HWND hwnd, LPCREATESTRUCTW)
{
    dpi_ = windowDpi(hwnd);
    createControls();
    createFonts();
    layout();
    return TRUE;
}

void FicheWindow::createControls()
{
    const HWND parent = window_.get();
    // In tab order: the two buttons are the only tab stops.
    const auto child = [&](const wchar_t *className, const std::string &text, DWORD style, int id) {
        const HWND control = CreateWindowExW(0, className, platform::toWide(text).c_str(), WS_CHILD | style, 0, 0, 0, 0,
                                             parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_,
                                             nullptr);
        if (!control)
            throw std::bad_alloc();
        return control;
    };
    const std::string version = std::string("Version ") + valmora::VersionModule + ".3 du 08/01/2024";

    imgVestiora_.control = child(WC_STATICW, {}, SS_OWNERDRAW, kImgVestiora);
    imgDuranel_.control = child(WC_STATICW, {}, SS_OWNERDRAW, kImgDuranel);
    lblChiffrage_ = child(WC_STATICW, kInstructionText, WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_ENDELLIPSIS,
                          kLblChiffrage);
    btnDevisRecuperer_ = child(WC_BUTTONW, "Récupérer le devis",
                               WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON | BS_NOTIFY, kBtnDevisRecuperer);
    lblOu_ = child(WC_STATICW, "ou ", WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, kLblOu);
    btnAnnulerRecuperation_ = child(WC_BUTTONW, "Annuler", WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_PUSHBUTTON | BS_NOTIFY,
                                    kBtnAnnulerRecuperation);
    lblVersion_ = child(WC_STATICW, version, WS_VISIBLE | SS_RIGHT | SS_NOPREFIX, kLblVersion);
    defaultButton_ = btnDevisRecuperer_;
}

// Fonts follow the window's dpi: the new ones are in use before the old ones go.
void FicheWindow::createFonts()
{
    win32::unique_hfont dialogFont = makeFont(L"Tahoma", 8, FW_NORMAL, dpi_);
    win32::unique_hfont captionFont = makeFont(captionFace(), 8, FW_BOLD, dpi_);
    for (const HWND control : {lblOu_, lblVersion_, btnDevisRecuperer_, btnAnnulerRecuperation_})
        setControlFont(control, dialogFont.get());
    setControlFont(lblChiffrage_, captionFont.get());
    dialogFont_ = std::move(dialogFont);
    captionFont_ = std::move(captionFont);
}

int FicheWindow::scale(int value) const noexcept
{
    return MulDiv(value, static_cast<int>(dpi_), 96);
}

SIZE FicheWindow::textSize(HFONT font, HWND control) const
{
    const int length = GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(control, text.data(), length + 1);
    SIZE size{};
    const win32::WindowDc dc(control);
    if (!dc.get())
        return size;
    const win32::Selection selected(dc.get(), font);
    GetTextExtentPoint32W(dc.get(), text.c_str(), copied, &size);
    return size;
}

// Bounds in 96-dpi units (left, top, width, height). Labels are at least as high as their
// text and size themselves to it as the Qt labels do: the left edge stays, except for the
// version, whose right edge stays at the button column.
void FicheWindow::layout()
{
    moveControl(imgVestiora_.control, scale(72), scale(8), scale(205), scale(114));
    moveControl(imgDuranel_.control, scale(22), scale(30), scale(305), scale(80));

    const SIZE chiffrage = textSize(captionFont_.get(), lblChiffrage_);
    moveControl(lblChiffrage_, scale(22), scale(136), scale(305), std::max(scale(13), static_cast<int>(chiffrage.cy)));

    moveControl(btnDevisRecuperer_, scale(22), scale(158), scale(125), scale(50));

    const SIZE ou = textSize(dialogFont_.get(), lblOu_);
    moveControl(lblOu_, scale(169), scale(175), std::max(scale(15), static_cast<int>(ou.cx)),
                std::max(scale(13), static_cast<int>(ou.cy)));

    moveControl(btnAnnulerRecuperation_, scale(202), scale(158), scale(125), scale(50));

    const SIZE version = textSize(dialogFont_.get(), lblVersion_);
    moveControl(lblVersion_, scale(327) - version.cx, scale(216), version.cx,
                std::max(scale(13), static_cast<int>(version.cy)));
}

// The client area is 351 x 234 units, centred on the primary monitor's work area.
void FicheWindow::placeOnScreen()
{
    RECT frame{0, 0, scale(351), scale(234)};
    adjustToFrame(frame, dpi_);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window_.get(), MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT &area = monitor.rcWork;
    SetWindowPos(window_.get(), nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void FicheWindow::show(int showCommand)
{
    ShowWindow(window_.get(), showCommand);
    // Should no paint come (a hidden or minimised start), the sequence runs anyway.
    SetTimer(window_.get(), kActivationTimer, kActivationFallbackMs, nullptr);
    UpdateWindow(window_.get());
}

bool FicheWindow::translateDialogMessage(MSG &message)
{
    return window_ && IsDialogMessageW(window_.get(), &message);
}

void FicheWindow::OnPaint(HWND hwnd)
{
    PAINTSTRUCT paint;
    BeginPaint(hwnd, &paint); // the class brush has painted the white background
    EndPaint(hwnd, &paint);
    // The window is drawn before the token request starts.
    scheduleActivation();
}

void FicheWindow::OnTimer(HWND, UINT id)
{
    if (id == kActivationTimer)
        scheduleActivation();
}

void FicheWindow::scheduleActivation()
{
    if (activationScheduled_)
        return;
    activationScheduled_ = true;
    KillTimer(window_.get(), kActivationTimer);
    PostMessageW(window_.get(), kActivateMessage, 0, 0);
}

void FicheWindow::OnActivateForm(HWND hwnd)
{
    // The controls paint after their parent: they are drawn too before the sequence starts.
    RedrawWindow(hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    fiche_->FormActivate();
}

void FicheWindow::OnCommand(HWND, int id, HWND control, UINT notification)
{
    // IDOK and IDCANCEL, which the dialog keyboard sends for Enter away from a button and
    // for Escape, do nothing: only the buttons and the close box act.
    if (id != kBtnDevisRecuperer && id != kBtnAnnulerRecuperation)
        return;
    if (notification == BN_SETFOCUS) {
        setDefaultButton(control);
        return;
    }
    if (notification != BN_CLICKED)
        return;
    if (id == kBtnDevisRecuperer)
        fiche_->btnDevisRecupererClick();
    else
        fiche_->btnAnnulerRecuperationClick();
}

// Enter presses the button that has the focus, as in a dialog: that button carries the
// default frame, and is the one DM_GETDEFID names.
void FicheWindow::setDefaultButton(HWND button)
{
    if (button == defaultButton_)
        return;
    for (const HWND each : {btnDevisRecuperer_, btnAnnulerRecuperation_})
        SendMessageW(each, BM_SETSTYLE, static_cast<WPARAM>((each == button ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | BS_NOTIFY),
                     TRUE);
    defaultButton_ = button;
}

LRESULT FicheWindow::OnGetDefId(HWND)
{
    if (!defaultButton_)
        return 0;
    return MAKELRESULT(GetDlgCtrlID(defaultButton_), DC_HASDEFID);
}

// The window passes the focus on to its last focused button, or to "Annuler" when that
// one is disabled.
void FicheWindow::OnSetFocus(HWND, HWND)
{
    SetFocus(defaultButton_ && IsWindowEnabled(defaultButton_) ? defaultButton_ : btnAnnulerRecuperation_);
}

HBRUSH FicheWindow::OnCtlColor(HWND, HDC dc, HWND, int)
{
    SetTextColor(dc, kBlack);
    SetBkColor(dc, kWhite);
    return GetStockBrush(WHITE_BRUSH);
}

void FicheWindow::OnDrawItem(HWND, const DRAWITEMSTRUCT *item)
{
    const LogoSlot *slot = item->hwndItem == imgVestiora_.control  ? &imgVestiora_
                           : item->hwndItem == imgDuranel_.control ? &imgDuranel_
                                                                   : nullptr;
    if (!slot)
        return;
    const RECT &bounds = item->rcItem;
    FillRect(item->hDC, &bounds, GetStockBrush(WHITE_BRUSH));
    if (!slot->bitmap)
        return;
    const int boundsWidth = bounds.right - bounds.left;
    const int boundsHeight = bounds.bottom - bounds.top;
    // Its own size is in 96-dpi pixels, like every other length of the window.
    const int width = slot->stretched ? boundsWidth : scale(slot->width);
    const int height = slot->stretched ? boundsHeight : scale(slot->height);
    const win32::unique_memory_dc source(CreateCompatibleDC(item->hDC));
    if (!source)
        return;
    const win32::Selection picture(source.get(), slot->bitmap.get());
    // HALFTONE averages the source pixels, so the logo stays sharp once scaled.
    const int previousMode = SetStretchBltMode(item->hDC, HALFTONE);
    POINT previousOrigin{};
    SetBrushOrgEx(item->hDC, 0, 0, &previousOrigin);
    StretchBlt(item->hDC, bounds.left + (boundsWidth - width) / 2, bounds.top + (boundsHeight - height) / 2, width,
               height, source.get(), 0, 0, slot->width, slot->height, SRCCOPY);
    SetBrushOrgEx(item->hDC, previousOrigin.x, previousOrigin.y, nullptr);
    SetStretchBltMode(item->hDC, previousMode);
}

BOOL FicheWindow::OnSetCursor(HWND hwnd, HWND cursorWindow, UINT hitTest, UINT mouseMessage)
{
    if (hitTest == HTCLIENT && mouseMessage == WM_MOUSEMOVE)
        fiche_->userReturned(); // the pointer is over the window, on its way to a button perhaps
    if (busy_ && hitTest == HTCLIENT) {
        // "Annuler" stays a pointer while the rest of the window waits.
        SetCursor(LoadCursorW(nullptr, cursorWindow == btnAnnulerRecuperation_ ? IDC_ARROW : IDC_WAIT));
        return TRUE;
    }
    return FORWARD_WM_SETCURSOR(hwnd, cursorWindow, hitTest, mouseMessage, DefWindowProcW);
}

// The cursor changes at once, not at the next move of the mouse.
void FicheWindow::refreshCursor()
{
    POINT point{};
    if (!window_ || !GetCursorPos(&point))
        return;
    const HWND under = WindowFromPoint(point);
    if (!under || (under != window_.get() && !IsChild(window_.get(), under)))
        return;
    const auto hitTest = static_cast<UINT>(SendMessageW(under, WM_NCHITTEST, 0, MAKELPARAM(point.x, point.y)));
    SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), MAKELPARAM(hitTest, WM_MOUSEMOVE));
}

void FicheWindow::OnClose(HWND hwnd)
{
    // During a request the request stops first, then the logic closes the window.
    if (fiche_->closeRequested())
        DestroyWindow(hwnd);
}

void FicheWindow::OnDestroy(HWND)
{
    PostQuitMessage(0);
}

void FicheWindow::OnNcDestroy(HWND hwnd)
{
    // The system has destroyed the window: the owner lets go of its handle.
    static_cast<void>(window_.release());
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
}

void FicheWindow::OnDpiChanged(HWND hwnd, UINT dpi, const RECT *suggested)
{
    dpi_ = dpi;
    createFonts();
    layout();
    SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(hwnd, nullptr, TRUE);
}

void FicheWindow::showCurrentException()
{
    try {
        const std::string text = currentExceptionMessage().text;
        form::reportShown(text);
        showMessage(text);
    } catch (...) {
        // Nothing more can be said.
    }
}

void FicheWindow::setCaptionAndLogo(const std::string &caption, form::Logo logo)
{
    SetWindowTextW(window_.get(), platform::toWide(caption).c_str());
    LogoSlot &slot = logo == form::Logo::Vestiora ? imgVestiora_ : imgDuranel_;
    // Decoded only when shown: reading a picture costs the first paint a few milliseconds.
    if (!slot.bitmap)
        slot.bitmap = decodeLogo(instance_, slot.resourceId, slot.width, slot.height);
    ShowWindow(slot.control, SW_SHOW);
}

void FicheWindow::showMessage(const std::string &text)
{
    MessageBoxW(window_.get(), platform::toWide(text).c_str(), platform::toWide(kTitle).c_str(), MB_OK);
}

bool FicheWindow::openInBrowser(const std::string &url)
{
    const std::wstring address = platform::toWide(url);
    const HINSTANCE result = ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

void FicheWindow::setProgressText(const std::string &text)
{
    SetWindowTextW(lblChiffrage_, platform::toWide(text.empty() ? kInstructionText : text).c_str());
}

void FicheWindow::setRetrievalEnabled(bool enabled)
{
    // A disabled button loses the focus: it goes on to "Annuler", next in the tab order.
    if (!enabled && GetFocus() == btnDevisRecuperer_)
        SetFocus(btnAnnulerRecuperation_);
    EnableWindow(btnDevisRecuperer_, enabled);
}

void FicheWindow::setBusy(bool busy)
{
    busy_ = busy;
    refreshCursor();
}

void FicheWindow::closeWindow()
{
    if (window_)
        DestroyWindow(window_.get());
}

void FicheWindow::pumpMessages(bool &quitSeen, int &quitCode)
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quitSeen = true;
            quitCode = static_cast<int>(message.wParam);
            continue;
        }
        if (!translateDialogMessage(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void FicheWindow::runInBackground(const std::function<void()> &work, const std::function<void()> &tick)
{
    const win32::unique_handle finished(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!finished) {
        work(); // nothing to wait on: the work runs here and the window waits with it
        return;
    }
    const HANDLE finishedEvent = finished.get();
    std::thread worker;
    try {
        // The worker only signals the end of the wait; it touches no window.
        worker = std::thread([&work, finishedEvent] {
            work();
            SetEvent(finishedEvent);
        });
    } catch (const std::system_error &) {
        work(); // no thread to be had: as above
        return;
    }

    bool quitSeen = false;
    int quitCode = 0;
    // However the wait ends, the worker is joined, then a quit that came meanwhile is
    // handed on to the loop that owns it.
    struct WaitEnd {
        std::thread &worker;
        const bool &quitSeen;
        const int &quitCode;
        ~WaitEnd()
        {
            worker.join();
            if (quitSeen)
                PostQuitMessage(quitCode);
        }
    } const waitEnd{worker, quitSeen, quitCode};

    using Clock = std::chrono::steady_clock;
    // Messages already in the queue do not wake the wait: they are handled first.
    pumpMessages(quitSeen, quitCode);
    Clock::time_point lastTick = Clock::now();
    for (;;) {
        const Clock::duration sinceTick = Clock::now() - lastTick;
        const DWORD timeout =
            sinceTick >= kTickInterval
                ? 0
                : static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(kTickInterval - sinceTick).count());
        const DWORD woken = MsgWaitForMultipleObjects(1, &finishedEvent, FALSE, timeout, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0)
            break;
        if (woken == WAIT_OBJECT_0 + 1) {
            pumpMessages(quitSeen, quitCode);
        } else if (woken == WAIT_FAILED) {
            WaitForSingleObject(finishedEvent, INFINITE);
            break;
        }
        if (Clock::now() - lastTick >= kTickInterval) {
            lastTick = Clock::now();
            tick();
        }
    }
}

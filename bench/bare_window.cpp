// The floor of the Windows build's start-up: a bare white Win32 window with the module's
// client size (351 x 234) and frame, and nothing in it. Built with
// VALMORA_BENCH_CONTROLS (and the module's manifest), the same window also holds the
// module's seven controls in their fonts: the cost of a dialog at all, none of the module.
#include <windows.h>

#ifdef VALMORA_BENCH_CONTROLS
#include <commctrl.h>
#endif

namespace {

LRESULT CALLBACK onMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

#ifdef VALMORA_BENCH_CONTROLS
HFONT tahoma(LONG weight)
{
    LOGFONTW font{};
    font.lfHeight = -11; // 8 points at 96 dpi
    font.lfWeight = weight;
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpyW(font.lfFaceName, L"Tahoma");
    return CreateFontIndirectW(&font);
}

void addControls(HWND window, HINSTANCE instance)
{
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof(classes);
    classes.dwICC = ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&classes);
    const HFONT regular = tahoma(FW_NORMAL);
    const HFONT bold = tahoma(FW_BOLD);
    const struct {
        const wchar_t *className;
        const wchar_t *text;
        DWORD style;
        int left, top, width, height;
        HFONT font;
    } controls[] = {
        {L"Static", L"", SS_OWNERDRAW, 72, 8, 205, 114, regular},
        {L"Static", L"", SS_OWNERDRAW, 22, 30, 305, 80, regular},
        {L"Static", L"Une fois votre chiffrage terminé veuillez : ", WS_VISIBLE | SS_LEFTNOWORDWRAP, 22, 136, 305,
         13, bold},
        {L"Button", L"Récupérer le devis", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 22, 158, 125, 50, regular},
        {L"Static", L"ou ", WS_VISIBLE | SS_LEFTNOWORDWRAP, 169, 175, 15, 13, regular},
        {L"Button", L"Annuler", WS_VISIBLE | WS_TABSTOP, 202, 158, 125, 50, regular},
        {L"Static", L"Version 1.3 du 08/01/2024", WS_VISIBLE | SS_RIGHT, 200, 216, 127, 13, regular},
    };
    for (const auto &each : controls) {
        const HWND control = CreateWindowExW(0, each.className, each.text, WS_CHILD | each.style, each.left, each.top,
                                             each.width, each.height, window, nullptr, instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(each.font), FALSE);
    }
}
#endif

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = onMessage;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = L"BareWindow";
    RegisterClassW(&windowClass);
    const DWORD style = WS_CAPTION | WS_SYSMENU;
    RECT frame{0, 0, 351, 234};
    AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
    HWND window = CreateWindowExW(WS_EX_DLGMODALFRAME, L"BareWindow", L"Fenêtre nue", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
#ifdef VALMORA_BENCH_CONTROLS
    addControls(window, instance);
#endif
    ShowWindow(window, show);
    UpdateWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return 0;
}

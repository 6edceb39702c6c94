#pragma once

#include "form/FicheView.h"
#include "form/TFicheConfigurateurRecupDevis.h"
#include "win32/win32_handles.h"

#include <exception>
#include <memory>
#include <string>

// The retrieval window on Win32: the view of the form logic, which it owns. The window is
// created hidden by the constructor; show() puts it on the screen.
class FicheWindow final : public form::FicheView {
public:
    explicit FicheWindow(HINSTANCE instance, GatewayEndpoint endpoint = {});
    ~FicheWindow() override;
    FicheWindow(const FicheWindow &) = delete;
    FicheWindow &operator=(const FicheWindow &) = delete;

    [[nodiscard]] TFicheConfigurateurRecupDevis &fiche() { return *fiche_; }
    // Null once the window has been destroyed.
    [[nodiscard]] HWND handle() const noexcept { return window_.get(); }

    void show(int showCommand);
    // The keyboard of a dialog (Tab, Enter, Escape) for a message taken from the queue;
    // true when the message has been handled and must not be dispatched.
    [[nodiscard]] bool translateDialogMessage(MSG &message);

    void setCaptionAndLogo(const std::string &caption, form::Logo logo) override;
    void showMessage(const std::string &text) override;
    [[nodiscard]] bool openInBrowser(const std::string &url) override;
    void setProgressText(const std::string &text) override;
    void setRetrievalEnabled(bool enabled) override;
    void setBusy(bool busy) override;
    void closeWindow() override;
    void runInBackground(const std::function<void()> &work, const std::function<void()> &tick) override;

private:
    // A logo: its picture at its own size, and the static control that shows it.
    struct LogoSlot {
        HWND control = nullptr;
        int resourceId = 0;
        bool stretched = false; // fills its bounds, or keeps its own size, centred
        win32::unique_hbitmap bitmap;
        int width = 0;
        int height = 0;
    };

    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    // Message handlers, in the signatures of <windowsx.h>.
    BOOL OnCreate(HWND hwnd, LPCREATESTRUCTW create);
    void OnPaint(HWND hwnd);
    void OnCommand(HWND hwnd, int id, HWND control, UINT notification);
    HBRUSH OnCtlColor(HWND hwnd, HDC dc, HWND control, int type);
    void OnDrawItem(HWND hwnd, const DRAWITEMSTRUCT *item);
    BOOL OnSetCursor(HWND hwnd, HWND cursorWindow, UINT hitTest, UINT mouseMessage);
    void OnSetFocus(HWND hwnd, HWND previousFocus);
    void OnTimer(HWND hwnd, UINT id);
    void OnClose(HWND hwnd);
    void OnDestroy(HWND hwnd);
    void OnNcDestroy(HWND hwnd);
    void OnDpiChanged(HWND hwnd, UINT dpi, const RECT *suggested);
    LRESULT OnGetDefId(HWND hwnd);
    void OnActivateForm(HWND hwnd);

    void createControls();
    void createFonts();
    void applyFonts();
    void layout();
    [[nodiscard]] int scale(int value) const noexcept;
    [[nodiscard]] SIZE textSize(HFONT font, HWND control) const;
    void placeOnScreen();
    void scheduleActivation();
    void setDefaultButton(HWND button);
    void refreshCursor();
    void pumpMessages(bool &quitSeen, int &quitCode);
    void showCurrentException();

    std::unique_ptr<TFicheConfigurateurRecupDevis> fiche_;
    HINSTANCE instance_;
    win32::unique_hwnd window_;
    UINT dpi_ = 96;

    // Child controls belong to the window and end with it.
    LogoSlot imgVestiora_;
    LogoSlot imgDuranel_;
    HWND lblChiffrage_ = nullptr;
    HWND btnDevisRecuperer_ = nullptr;
    HWND lblOu_ = nullptr;
    HWND btnAnnulerRecuperation_ = nullptr;
    HWND lblVersion_ = nullptr;
    HWND defaultButton_ = nullptr; // the button Enter presses: the one with the focus

    win32::unique_hfont dialogFont_;
    win32::unique_hfont captionFont_;

    std::exception_ptr creationFailure_; // what stopped WM_CREATE
    bool busy_ = false;
    bool activationScheduled_ = false;
};

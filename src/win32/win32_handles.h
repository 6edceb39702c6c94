#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <memory>
#include <type_traits>

// Owners of the Win32 handles the view creates: each is closed by the call that matches
// the call that made it.
namespace win32 {

struct WindowDestroyer {
    void operator()(HWND window) const noexcept { DestroyWindow(window); }
};
// A top-level window; the window gives it up itself once it has been destroyed.
using unique_hwnd = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};
using unique_hfont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;
using unique_hbitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using unique_handle = std::unique_ptr<void, HandleCloser>;

struct MemoryDcDeleter {
    void operator()(HDC dc) const noexcept { DeleteDC(dc); }
};
using unique_memory_dc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;

struct LocalFreer {
    void operator()(void *memory) const noexcept { LocalFree(memory); }
};
template <typename T>
using unique_local = std::unique_ptr<T, LocalFreer>;

// A window's device context, given back to the window at the end of the scope.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept
        : window_(window)
        , dc_(GetDC(window))
    {
    }
    ~WindowDc()
    {
        if (dc_)
            ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc &) = delete;
    WindowDc &operator=(const WindowDc &) = delete;

    [[nodiscard]] HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// An object selected into a device context until the end of the scope.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) noexcept
        : dc_(dc)
        , previous_(SelectObject(dc, object))
    {
    }
    ~Selection() { SelectObject(dc_, previous_); }
    Selection(const Selection &) = delete;
    Selection &operator=(const Selection &) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

} // namespace win32

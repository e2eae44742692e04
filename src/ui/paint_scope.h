#pragma once
#include <windows.h>

namespace Orv {

// BeginPaint ... EndPaint for one WM_PAINT.
class PaintScope {
public:
    explicit PaintScope(HWND window) : window_(window) { dc_ = ::BeginPaint(window_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    ~PaintScope() { ::EndPaint(window_, &paint_); }
    HDC Dc() const { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_ = nullptr;
};

// GetDC ... ReleaseDC: a window's device context for measuring.
class WindowDcScope {
public:
    explicit WindowDcScope(HWND window) : window_(window), dc_(::GetDC(window)) {}
    WindowDcScope(const WindowDcScope&) = delete;
    WindowDcScope& operator=(const WindowDcScope&) = delete;
    ~WindowDcScope() { ::ReleaseDC(window_, dc_); }
    HDC Dc() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Selects an object into a device context and puts the previous one back at the end of the scope.
class SelectionScope {
public:
    SelectionScope(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    SelectionScope(const SelectionScope&) = delete;
    SelectionScope& operator=(const SelectionScope&) = delete;
    ~SelectionScope() { ::SelectObject(dc_, previous_); }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

} // namespace Orv

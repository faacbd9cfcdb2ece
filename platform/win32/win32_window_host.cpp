#include "platform/win32/win32_window_host.h"

#include <algorithm>
#include <string>

#include "platform/win32/gdiplus_surface.h"
#include "ui/drawn_bounds.h"
#include "ui/main_screen.h"

namespace platform::win32 {
namespace {

constexpr wchar_t kFormClassName[] = L"BaseForm";
// SC_MOVE plus HTCAPTION: the system drags the window as if by its caption.
constexpr WPARAM kMoveByCaption = 0xF012;
// The class background brush value the splash's windows register with.
const HBRUSH kBackgroundBrush = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(1));

// IDC_ARROW spelt for the W function (the header's macro is the narrow one here).
LPCWSTR ArrowCursor() { return MAKEINTRESOURCEW(32512); }

HWND AsHwnd(ui::WindowHandle window) { return static_cast<HWND>(window); }

std::wstring AsciiToWide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

POINT CentredOnScreen(int screenWidth, int screenHeight, int width, int height) {
  return POINT{(screenWidth - width) / 2, (screenHeight - height) / 2};
}

ui::WindowHandle Win32WindowHost::CreateMainWindow(int width, int height, const std::string& title) {
  const std::wstring name = AsciiToWide(title);
  HICON icon = LoadIconW(instance_, MAKEINTRESOURCEW(ui::kProgramIcon));
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = windowProcedure_;
  windowClass.hInstance = instance_;
  windowClass.hIcon = icon;
  windowClass.hIconSm = icon;
  windowClass.hCursor = LoadCursorW(nullptr, ArrowCursor());
  windowClass.hbrBackground = kBackgroundBrush;
  windowClass.lpszClassName = name.c_str();
  if (!RegisterClassExW(&windowClass)) return nullptr;
  // Layered and never activated by a click; no caption or frame.
  HWND window =
      CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_LAYERED, name.c_str(), name.c_str(), WS_VISIBLE | WS_CLIPCHILDREN,
                      CW_USEDEFAULT, CW_USEDEFAULT, width, height, nullptr, nullptr, instance_, nullptr);
  return window;
}

ui::WindowHandle Win32WindowHost::CreateFormWindow(ui::WindowHandle parent) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = windowProcedure_;
  windowClass.hInstance = instance_;
  windowClass.hCursor = LoadCursorW(nullptr, ArrowCursor());
  windowClass.hbrBackground = kBackgroundBrush;
  windowClass.lpszClassName = kFormClassName;
  RegisterClassExW(&windowClass);  // fails harmlessly once the first form registered it
  return CreateWindowExW(WS_EX_LAYERED, kFormClassName, kFormClassName, WS_POPUP | WS_VISIBLE, 0, 0, 0, 0,
                         AsHwnd(parent), nullptr, instance_, nullptr);
}

ui::Rect Win32WindowHost::GetWindowRect(ui::WindowHandle window) {
  RECT rect{};
  if (!::GetWindowRect(AsHwnd(window), &rect)) return {};
  return ui::Rect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

namespace {

BOOL CALLBACK AppendWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

}  // namespace

// True when the window's owner comes after it in the z-order. Raising the owner (activation,
// BringToFront, an exposure under Wine) can cover the forms; the placement then raises them again.
bool Win32WindowHost::IsAboveOwner(HWND window) {
  const HWND owner = GetWindow(window, GW_OWNER);
  if (!owner) return true;
  if (!stackingCurrent_) {
    stacking_.clear();
    // The thread's top-level windows in z-order, topmost first: one request for all of them.
    EnumThreadWindows(GetCurrentThreadId(), &AppendWindow, reinterpret_cast<LPARAM>(&stacking_));
    stackingCurrent_ = true;
  }
  const auto at = std::find(stacking_.begin(), stacking_.end(), window);
  const auto ownerAt = std::find(stacking_.begin(), stacking_.end(), owner);
  return at != stacking_.end() && ownerAt != stacking_.end() && at < ownerAt;
}

void Win32WindowHost::PlaceWindow(ui::WindowHandle window, const ui::Rect& rect) {
  // Unchanged and still above its owner: nothing to send. Forms are placed every frame, and each
  // SetWindowPos is a round of window-position messages (under Wine also server requests and an
  // X11 configure) that would cost an idle splash more than everything else it does.
  const HWND handle = AsHwnd(window);
  if (GetWindowRect(window) == rect && IsAboveOwner(handle)) return;
  // No insert-after window: placed and raised to the top of its owner's windows. Without
  // SWP_NOACTIVATE each frame's placement would activate the form, taking the keyboard from
  // whatever has it (a message box on another thread among others).
  SetWindowPos(handle, nullptr, rect.x, rect.y, rect.width, rect.height, SWP_NOACTIVATE);
  stackingCurrent_ = false;
}

void Win32WindowHost::OnWindowPosChanged(const WINDOWPOS& position) {
  if ((position.flags & SWP_NOZORDER) == 0) stackingCurrent_ = false;
}

void Win32WindowHost::RequestRepaint(ui::WindowHandle window) { InvalidateRect(AsHwnd(window), nullptr, FALSE); }

void Win32WindowHost::Present(ui::WindowHandle window, ui::Surface& surface, const ui::Rect& screenRect) {
  auto* gdiplusSurface = dynamic_cast<GdiplusSurface*>(&surface);
  if (!gdiplusSurface) return;
  const HWND handle = AsHwnd(window);
  HDC source = gdiplusSurface->FinishedDc();
  POINT destination{screenRect.x, screenRect.y};
  SIZE size{surface.Width(), surface.Height()};
  const ui::Rect drawn = ui::DrawnBounds(gdiplusSurface->Bits(), size.cx, size.cy);
  const auto before = shown_.find(handle);
  const bool samePlace = before != shown_.end() && before->second.at.x == destination.x &&
                         before->second.at.y == destination.y && before->second.size.cx == size.cx &&
                         before->second.size.cy == size.cy;
  // Moved, resized or shown for the first time: all of it.
  const ui::Rect changed = samePlace ? ui::BoundsUnion(before->second.drawn, drawn) : ui::Rect{0, 0, size.cx, size.cy};
  shown_[handle] = Shown{destination, size, drawn};
  if (changed.width <= 0 || changed.height <= 0) return;  // clear before and clear now
  const RECT dirty{changed.x, changed.y, changed.x + changed.width, changed.y + changed.height};
  HDC screen = GetDC(nullptr);
  POINT origin{0, 0};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  UPDATELAYEREDWINDOWINFO info{};
  info.cbSize = sizeof info;
  info.hdcDst = screen;
  info.pptDst = &destination;
  info.psize = &size;
  info.hdcSrc = source;
  info.pptSrc = &origin;
  info.pblend = &blend;
  info.dwFlags = ULW_ALPHA;
  info.prcDirty = &dirty;
  UpdateLayeredWindowIndirect(handle, &info);
  if (screen) ReleaseDC(nullptr, screen);
}

void Win32WindowHost::BringToFront(ui::WindowHandle mainWindow) {
  SetForegroundWindow(AsHwnd(mainWindow));
  BringWindowToTop(AsHwnd(mainWindow));
}

void Win32WindowHost::BeginDrag(ui::WindowHandle mainWindow) {
  PostMessageW(AsHwnd(mainWindow), WM_SYSCOMMAND, kMoveByCaption, 0);
}

std::uint32_t Win32WindowHost::TickMs() { return GetTickCount(); }

}  // namespace platform::win32

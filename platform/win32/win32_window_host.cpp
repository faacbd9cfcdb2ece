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

// The system's rectangle of the window in screen pixels; empty when there is no such window.
ui::Rect SystemWindowRect(HWND window) {
  RECT rect{};
  if (!::GetWindowRect(window, &rect)) return {};
  return ui::Rect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

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
  HWND form = CreateWindowExW(WS_EX_LAYERED, kFormClassName, kFormClassName, WS_POPUP | WS_VISIBLE, 0, 0, 0, 0,
                              AsHwnd(parent), nullptr, instance_, nullptr);
  if (form) forms_[form] = Form{};
  return form;
}

ui::Rect Win32WindowHost::GetWindowRect(ui::WindowHandle window) {
  const auto form = forms_.find(AsHwnd(window));
  if (form != forms_.end()) return form->second.placed;
  return SystemWindowRect(AsHwnd(window));
}

ui::Rect Win32WindowHost::OnScreen(const ui::Rect& placed, const ui::Rect& extent) {
  // One pixel, never shown (a layered window shows nothing before its first push), until the
  // form draws something: a window without a client area gets no paint message, and its
  // elements would stay dirty and ask for one every frame.
  if (extent.width <= 0 || extent.height <= 0) return ui::Rect{placed.x, placed.y, 1, 1};
  return ui::Rect{placed.x + extent.x, placed.y + extent.y, extent.width, extent.height};
}

POINT Win32WindowHost::ToSplashPoint(HWND window, POINT client) const {
  const auto form = forms_.find(window);
  if (form == forms_.end()) return client;
  return POINT{client.x + form->second.extent.x, client.y + form->second.extent.y};
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
  ui::Rect target = rect;
  if (const auto form = forms_.find(handle); form != forms_.end()) {
    form->second.placed = rect;
    target = OnScreen(rect, form->second.extent);
  }
  if (SystemWindowRect(handle) == target && IsAboveOwner(handle)) return;
  // No insert-after window: placed and raised to the top of its owner's windows. Without
  // SWP_NOACTIVATE each frame's placement would activate the form, taking the keyboard from
  // whatever has it (a message box on another thread among others).
  SetWindowPos(handle, nullptr, target.x, target.y, target.width, target.height, SWP_NOACTIVATE);
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
  const int width = surface.Width();
  const int height = surface.Height();
  const ui::Rect drawn = gdiplusSurface->DrawnBounds();
  const auto before = shown_.find(handle);
  const auto form = forms_.find(handle);
  ui::Rect extent{0, 0, width, height};
  if (form != forms_.end()) {
    extent = ui::CoveringExtent(form->second.extent, drawn, width, height);
    form->second.extent = extent;
  }
  if (extent.width <= 0 || extent.height <= 0) return;  // nothing drawn yet: the window stays empty
  const ui::Rect target = OnScreen(screenRect, extent);
  const bool samePlace = before != shown_.end() && before->second.window == target && before->second.extent == extent;
  // Moved, resized or shown for the first time: all of it. Otherwise the part that changed, in
  // the window's coordinates.
  ui::Rect changed{0, 0, extent.width, extent.height};
  if (samePlace) {
    changed = ui::BoundsUnion(before->second.drawn, drawn);
    changed.x -= extent.x;
    changed.y -= extent.y;
  }
  shown_[handle] = Shown{target, drawn, extent};
  if (changed.width <= 0 || changed.height <= 0) return;  // clear before and clear now
  const RECT dirty{changed.x, changed.y, changed.x + changed.width, changed.y + changed.height};
  POINT destination{target.x, target.y};
  SIZE size{extent.width, extent.height};
  POINT origin{extent.x, extent.y};  // the window's part of the surface
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  UPDATELAYEREDWINDOWINFO info{};
  info.cbSize = sizeof info;
  // No destination DC: the screen's default palette applies, which is what a 32-bit layered
  // window wants. A screen DC taken for each push costs, under Wine, a fresh read of the X
  // resource files for the DC's default font, several times a second while the splash animates.
  info.hdcDst = nullptr;
  // In place: neither position nor size, which would make the push a placement of the window
  // as well (under Wine a round of window-position work and seven server requests).
  info.pptDst = samePlace ? nullptr : &destination;
  info.psize = samePlace ? nullptr : &size;
  info.hdcSrc = source;
  info.pptSrc = &origin;
  info.pblend = &blend;
  info.dwFlags = ULW_ALPHA;
  // A push that moves or resizes the window takes no dirty rectangle: it replaces all of it.
  info.prcDirty = samePlace ? &dirty : nullptr;
  UpdateLayeredWindowIndirect(handle, &info);
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

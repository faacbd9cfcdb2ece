// The splash's windows on Linux with GTK 3: undecorated top-level windows with the screen's
// RGBA visual, painted by the application. Each presented surface becomes the window's whole
// content (SOURCE operator); presses on fully transparent pixels fall through, because the
// input shape is built from the pixels with alpha above 0. Without a compositor, transparency
// would show black, so the windows are cut to their drawn pixels instead.
#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <utility>
#include <vector>

#include "platform/linux/gtk/cairo_owners.h"
#include "ui/window_host.h"

namespace gtk_splash {

// What the host reports from GTK's events; implemented by the front end.
class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  virtual void OnPaint(ui::WindowHandle window) = 0;
  virtual void OnMainWindowMoved() = 0;
  virtual void OnLeftButtonDown(int x, int y, bool leftButtonAlone) = 0;
  virtual void OnMainCloseRequest() = 0;
  virtual void OnLoopEnd() = 0;
};

class GtkWindowHost : public ui::WindowHost {
 public:
  explicit GtkWindowHost(WindowEvents& events);
  ~GtkWindowHost() override;

  ui::WindowHandle CreateMainWindow(int width, int height, const std::string& title) override;
  ui::WindowHandle CreateFormWindow(ui::WindowHandle parent) override;
  ui::Rect GetWindowRect(ui::WindowHandle window) override;
  void PlaceWindow(ui::WindowHandle window, const ui::Rect& rect) override;
  void RequestRepaint(ui::WindowHandle window) override;
  void Present(ui::WindowHandle window, ui::Surface& surface, const ui::Rect& screenRect) override;
  void BringToFront(ui::WindowHandle mainWindow) override;
  void BeginDrag(ui::WindowHandle mainWindow) override;
  std::uint32_t TickMs() override;

  // Shows every window, the main one first, so the forms lie above it in creation order.
  void ShowAll();
  // Whether GTK was called since the last look (GTK may then have queued work of its own).
  bool TakeGtkTouched() { return std::exchange(gtkTouched_, false); }
  bool Composited() const { return composited_; }

 private:
  struct Window {
    GtkWidget* widget = nullptr;
    ui::Rect rect;
    CairoSurfacePtr content;  // what the window shows; null until the first pass
    ui::Rect contentDrawn;    // the part of `content` that is not transparent
    bool isMain = false;
    bool shapePending = false;
    std::vector<ui::Rect> shape;  // the input shape last sent to the display
    bool shapeKnown = false;      // whether the display still has it
    GtkWindowHost* host = nullptr;
  };
  struct Drag {
    bool active = false;
    GtkWidget* grabbed = nullptr;
    double pressRootX = 0, pressRootY = 0;
    int startX = 0, startY = 0;
  };

  Window* Find(ui::WindowHandle window);
  Window* AddWindow(bool isMain, int width, int height, const std::string& title);
  void ApplyShape(Window& window);
  void MoveMainTo(int x, int y);
  void EndDrag(guint32 time);
  bool WindowManagerMoves() const;

  void ScheduleShape(Window& window);
  static gboolean ApplyPendingShape(gpointer data);
  static gboolean OnMapped(GtkWidget* widget, GdkEvent* event, gpointer data);
  static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer data);
  static gboolean OnButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer data);
  static gboolean OnButtonRelease(GtkWidget* widget, GdkEventButton* event, gpointer data);
  static gboolean OnMotion(GtkWidget* widget, GdkEventMotion* event, gpointer data);
  static gboolean OnConfigure(GtkWidget* widget, GdkEventConfigure* event, gpointer data);
  static gboolean OnDelete(GtkWidget* widget, GdkEvent* event, gpointer data);
  static void OnDestroy(GtkWidget* widget, gpointer data);

  WindowEvents& events_;
  std::vector<std::unique_ptr<Window>> windows_;
  Window* main_ = nullptr;
  bool composited_ = false;
  GdkEventButton* pressEvent_ = nullptr;  // the press being delivered, for BeginDrag
  Drag drag_;
  bool gtkTouched_ = true;
  Window* painting_ = nullptr;   // the window whose draw handler runs now
  GdkRectangle paintingClip_{};  // the part of it that handler repaints
};

}  // namespace gtk_splash

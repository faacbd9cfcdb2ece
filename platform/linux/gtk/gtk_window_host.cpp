#include "platform/linux/gtk/gtk_window_host.h"

#include <X11/extensions/shape.h>
#include <gdk/gdkx.h>

#include <algorithm>

#include "platform/linux/gtk/cairo_canvas.h"
#include "platform/linux/gtk/opaque_shape.h"
#include "platform/linux/gtk/pixel_buffer_pool.h"

namespace gtk_splash {
namespace {

bool Contains(const GdkRectangle& outer, const ui::Rect& inner) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

}  // namespace

GtkWindowHost::GtkWindowHost(WindowEvents& events) : events_(events) {
  composited_ = gdk_screen_is_composited(gdk_screen_get_default());
}

GtkWindowHost::~GtkWindowHost() {
  for (auto& window : windows_) {
    g_signal_handlers_disconnect_by_data(window->widget, window.get());
    gtk_widget_destroy(window->widget);
  }
}

GtkWindowHost::Window* GtkWindowHost::Find(ui::WindowHandle handle) {
  for (auto& window : windows_)
    if (window->widget == handle) return window.get();
  return nullptr;
}

GtkWindowHost::Window* GtkWindowHost::AddWindow(bool isMain, int width, int height, const std::string& title) {
  gtkTouched_ = true;
  auto window = std::make_unique<Window>();
  window->isMain = isMain;
  window->host = this;
  window->rect = {0, 0, width, height};
  GtkWidget* widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  window->widget = widget;
  GtkWindow* gtkWindow = GTK_WINDOW(widget);
  gtk_window_set_title(gtkWindow, title.c_str());
  gtk_window_set_decorated(gtkWindow, FALSE);
  gtk_window_set_resizable(gtkWindow, FALSE);
  gtk_widget_set_app_paintable(widget, TRUE);
  // Per-pixel alpha needs the RGBA visual, and it must be chosen before the window is realized.
  if (GdkVisual* visual = gdk_screen_get_rgba_visual(gtk_widget_get_screen(widget)))
    gtk_widget_set_visual(widget, visual);
  gtk_window_set_default_size(gtkWindow, std::max(width, 1), std::max(height, 1));
  gtk_window_set_focus_on_map(gtkWindow, FALSE);
  gtk_widget_add_events(widget,
                        GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK | GDK_STRUCTURE_MASK);
  g_signal_connect(widget, "draw", G_CALLBACK(OnDraw), window.get());
  g_signal_connect(widget, "button-press-event", G_CALLBACK(OnButtonPress), window.get());
  g_signal_connect(widget, "button-release-event", G_CALLBACK(OnButtonRelease), window.get());
  g_signal_connect(widget, "motion-notify-event", G_CALLBACK(OnMotion), window.get());
  g_signal_connect(widget, "delete-event", G_CALLBACK(OnDelete), window.get());
  g_signal_connect(widget, "destroy", G_CALLBACK(OnDestroy), window.get());
  g_signal_connect(widget, "configure-event", G_CALLBACK(OnConfigure), window.get());
  g_signal_connect(widget, "map-event", G_CALLBACK(OnMapped), window.get());
  windows_.push_back(std::move(window));
  return windows_.back().get();
}

ui::WindowHandle GtkWindowHost::CreateMainWindow(int width, int height, const std::string& title) {
  main_ = AddWindow(true, width, height, title);
  return main_->widget;
}

ui::WindowHandle GtkWindowHost::CreateFormWindow(ui::WindowHandle parent) {
  Window* form = AddWindow(false, 0, 0, "BaseForm");
  GtkWindow* gtkWindow = GTK_WINDOW(form->widget);
  if (Window* owner = Find(parent)) gtk_window_set_transient_for(gtkWindow, GTK_WINDOW(owner->widget));
  gtk_window_set_accept_focus(gtkWindow, FALSE);
  gtk_window_set_skip_taskbar_hint(gtkWindow, TRUE);
  gtk_window_set_skip_pager_hint(gtkWindow, TRUE);
  gtk_window_set_type_hint(gtkWindow, GDK_WINDOW_TYPE_HINT_UTILITY);
  if (main_ && gtk_widget_get_visible(main_->widget)) gtk_widget_show(form->widget);
  return form->widget;
}

ui::Rect GtkWindowHost::GetWindowRect(ui::WindowHandle handle) {
  Window* window = Find(handle);
  return window ? window->rect : ui::Rect{};
}

void GtkWindowHost::PlaceWindow(ui::WindowHandle handle, const ui::Rect& rect) {
  Window* window = Find(handle);
  if (!window || window->rect == rect) return;  // unchanged: no traffic to the display
  gtkTouched_ = true;
  GtkWindow* gtkWindow = GTK_WINDOW(window->widget);
  if (rect.width > 0 && rect.height > 0) {
    gtk_window_resize(gtkWindow, rect.width, rect.height);
    gtk_widget_set_size_request(window->widget, rect.width, rect.height);
  }
  gtk_window_move(gtkWindow, rect.x, rect.y);
  window->rect = rect;
}

void GtkWindowHost::MoveMainTo(int x, int y) {
  if (!main_) return;
  gtkTouched_ = true;
  gtk_window_move(GTK_WINDOW(main_->widget), x, y);
  main_->rect.x = x;
  main_->rect.y = y;
  events_.OnMainWindowMoved();
}

void GtkWindowHost::RequestRepaint(ui::WindowHandle handle) {
  // The render pass runs now, on the window thread, and Present asks GTK to redraw only what
  // changed: a whole-window redraw would move every pixel of the window through the display
  // for every dot of the stage text.
  if (Find(handle)) events_.OnPaint(handle);
}

void GtkWindowHost::Present(ui::WindowHandle handle, ui::Surface& surface, const ui::Rect&) {
  Window* window = Find(handle);
  if (!window) return;
  auto& cairoSurface = static_cast<CairoSurface&>(surface);
  gtkTouched_ = true;
  cairo_surface_flush(cairoSurface.Native());
  // What changes on screen: what the old content showed and what the new one shows.
  const ui::Rect changed = UnionOf(window->contentDrawn, cairoSurface.DrawnBounds());
  window->content.reset(cairo_surface_reference(cairoSurface.Native()));
  window->contentDrawn = cairoSurface.DrawnBounds();
  ScheduleShape(*window);
  if (IsEmpty(changed)) return;
  if (painting_ == window && Contains(paintingClip_, changed)) return;  // the running draw shows it
  gtk_widget_queue_draw_area(window->widget, changed.x, changed.y, changed.width, changed.height);
}

void GtkWindowHost::ScheduleShape(Window& window) {
  if (window.shapePending || !window.content) return;
  window.shapePending = true;
  g_idle_add_full(G_PRIORITY_HIGH_IDLE, ApplyPendingShape, &window, nullptr);
}

gboolean GtkWindowHost::ApplyPendingShape(gpointer data) {
  auto* window = static_cast<Window*>(data);
  window->shapePending = false;
  if (window->widget && window->content) window->host->ApplyShape(*window);
  return G_SOURCE_REMOVE;
}

void GtkWindowHost::ApplyShape(Window& window) {
  GdkWindow* gdkWindow = gtk_widget_get_window(window.widget);
  if (!gdkWindow) return;
  std::vector<ui::Rect> opaque = OpaqueRectangles(window.content.get(), window.contentDrawn);
  // The stage text's dots come back every two seconds; a shape the display already has is not
  // sent again.
  if (window.shapeKnown && opaque == window.shape) return;
  std::vector<XRectangle> rects(opaque.size());
  for (std::size_t i = 0; i < opaque.size(); ++i) {
    rects[i] = {static_cast<short>(opaque[i].x), static_cast<short>(opaque[i].y),
                static_cast<unsigned short>(opaque[i].width), static_cast<unsigned short>(opaque[i].height)};
  }
  // Straight to the X server: GDK keeps its own idea of a window's shape and may skip updates.
  Display* display = GDK_DISPLAY_XDISPLAY(gdk_window_get_display(gdkWindow));
  const ::Window xid = GDK_WINDOW_XID(gdkWindow);
  XShapeCombineRectangles(display, xid, ShapeInput, 0, 0, rects.data(), static_cast<int>(rects.size()), ShapeSet,
                          YXBanded);
  if (!composited_)
    XShapeCombineRectangles(display, xid, ShapeBounding, 0, 0, rects.data(), static_cast<int>(rects.size()), ShapeSet,
                            YXBanded);
  window.shape = std::move(opaque);
  window.shapeKnown = true;
}

void GtkWindowHost::BringToFront(ui::WindowHandle mainWindow) {
  Window* window = Find(mainWindow);
  if (!window) return;
  gtkTouched_ = true;
  gtk_window_present_with_time(GTK_WINDOW(window->widget), gtk_get_current_event_time());
  // Without a window manager nothing keeps the owned windows above their owner.
  if (GdkWindow* gdkWindow = gtk_widget_get_window(window->widget)) gdk_window_raise(gdkWindow);
  for (auto& form : windows_)
    if (!form->isMain)
      if (GdkWindow* gdkWindow = gtk_widget_get_window(form->widget)) gdk_window_raise(gdkWindow);
}

bool GtkWindowHost::WindowManagerMoves() const {
  GdkScreen* screen = gdk_screen_get_default();
  if (!GDK_IS_X11_SCREEN(screen)) return true;
  return gdk_x11_screen_supports_net_wm_hint(screen, gdk_atom_intern_static_string("_NET_WM_MOVERESIZE"));
}

void GtkWindowHost::BeginDrag(ui::WindowHandle mainWindow) {
  Window* window = Find(mainWindow);
  if (!window || !pressEvent_) return;
  gtkTouched_ = true;
  const GdkEventButton& press = *pressEvent_;
  if (WindowManagerMoves()) {
    gtk_window_begin_move_drag(GTK_WINDOW(window->widget), static_cast<gint>(press.button),
                               static_cast<gint>(press.x_root), static_cast<gint>(press.y_root), press.time);
    return;
  }
  // No window manager: follow the pointer ourselves while the button is held.
  drag_.active = true;
  drag_.pressRootX = press.x_root;
  drag_.pressRootY = press.y_root;
  drag_.startX = window->rect.x;
  drag_.startY = window->rect.y;
  for (auto& candidate : windows_)
    if (candidate->widget && gtk_widget_get_window(candidate->widget) == press.window)
      drag_.grabbed = candidate->widget;
  if (drag_.grabbed) gtk_grab_add(drag_.grabbed);
}

void GtkWindowHost::EndDrag(guint32) {
  gtkTouched_ = true;
  if (drag_.grabbed) gtk_grab_remove(drag_.grabbed);
  drag_ = Drag{};
}

std::uint32_t GtkWindowHost::TickMs() {
  // Wraps like the system's 32-bit millisecond tick.
  return static_cast<std::uint32_t>(g_get_monotonic_time() / 1000);
}

void GtkWindowHost::ShowAll() {
  gtkTouched_ = true;
  if (main_) gtk_widget_show(main_->widget);
  for (auto& window : windows_)
    if (!window->isMain) gtk_widget_show(window->widget);
}

gboolean GtkWindowHost::OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
  auto* window = static_cast<Window*>(data);
  GtkWindowHost* host = window->host;
  host->painting_ = window;
  if (!gdk_cairo_get_clip_rectangle(cr, &host->paintingClip_)) host->paintingClip_ = GdkRectangle{};
  host->events_.OnPaint(window->widget);
  host->painting_ = nullptr;
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  if (window->content) {
    cairo_set_source_surface(cr, window->content.get(), 0, 0);
  } else {
    cairo_set_source_rgba(cr, 0, 0, 0, 0);
  }
  cairo_paint(cr);
  return TRUE;
}

gboolean GtkWindowHost::OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer data) {
  auto* window = static_cast<Window*>(data);
  if (event->type != GDK_BUTTON_PRESS || event->button != GDK_BUTTON_PRIMARY) return TRUE;
  GtkWindowHost* host = window->host;
  // Exactly the left button: no other button and no Shift or Control held when it went down.
  const guint held = event->state & (GDK_SHIFT_MASK | GDK_CONTROL_MASK | GDK_BUTTON1_MASK | GDK_BUTTON2_MASK |
                                     GDK_BUTTON3_MASK | GDK_BUTTON4_MASK | GDK_BUTTON5_MASK);
  host->pressEvent_ = event;
  host->events_.OnLeftButtonDown(static_cast<int>(event->x) & 0xFFFF, static_cast<int>(event->y) & 0xFFFF, held == 0);
  host->pressEvent_ = nullptr;
  return TRUE;
}

gboolean GtkWindowHost::OnButtonRelease(GtkWidget*, GdkEventButton* event, gpointer data) {
  auto* window = static_cast<Window*>(data);
  if (event->button == GDK_BUTTON_PRIMARY && window->host->drag_.active) window->host->EndDrag(event->time);
  return TRUE;
}

gboolean GtkWindowHost::OnMotion(GtkWidget*, GdkEventMotion* event, gpointer data) {
  GtkWindowHost* host = static_cast<Window*>(data)->host;
  if (!host->drag_.active) return FALSE;
  if (!(event->state & GDK_BUTTON1_MASK)) {
    host->EndDrag(event->time);
    return TRUE;
  }
  host->MoveMainTo(host->drag_.startX + static_cast<int>(event->x_root - host->drag_.pressRootX),
                   host->drag_.startY + static_cast<int>(event->y_root - host->drag_.pressRootY));
  return TRUE;
}

gboolean GtkWindowHost::OnMapped(GtkWidget*, GdkEvent*, gpointer data) {
  auto* window = static_cast<Window*>(data);
  window->shapeKnown = false;
  window->host->ScheduleShape(*window);
  return FALSE;
}

gboolean GtkWindowHost::OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer data) {
  auto* window = static_cast<Window*>(data);
  // A new size or a fresh mapping drops what the display knew of the shape.
  window->shapeKnown = false;
  window->host->ScheduleShape(*window);
  if (!window->isMain) return FALSE;
  if (window->rect.x != event->x || window->rect.y != event->y) {
    window->rect.x = event->x;
    window->rect.y = event->y;
    window->host->events_.OnMainWindowMoved();
  }
  return FALSE;
}

gboolean GtkWindowHost::OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  auto* window = static_cast<Window*>(data);
  if (window->isMain) {
    window->host->events_.OnMainCloseRequest();
  } else {
    window->host->events_.OnLoopEnd();
  }
  return TRUE;  // windows are never destroyed by a close request
}

void GtkWindowHost::OnDestroy(GtkWidget*, gpointer data) {
  auto* window = static_cast<Window*>(data);
  window->widget = nullptr;
  window->host->events_.OnLoopEnd();
}

}  // namespace gtk_splash

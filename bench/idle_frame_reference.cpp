// The reference for the idle splash's processor time: one GTK 3 window and nothing else, its
// main loop woken 60 times a second by a timer that does no work. What the splash costs above
// this is its own; this much any GTK program pays on the same machine for 60 frames a second.
//
//   idle_frame_reference   (runs until killed; the window is titled "idle frame reference")
#include <gtk/gtk.h>

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) return 1;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "idle frame reference");
  gtk_window_set_default_size(GTK_WINDOW(window), 400, 200);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show(window);
  g_timeout_add(
      1000 / 60, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  gtk_main();
  return 0;
}

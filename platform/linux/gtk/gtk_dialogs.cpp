#include "platform/linux/gtk/gtk_dialogs.h"

#include <gtk/gtk.h>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "app/texts.h"
#include "platform/text_encoding.h"

namespace gtk_splash {
namespace {

constexpr unsigned kButtonsMask = 0x000Fu;

struct PendingAnswer {
  std::mutex mutex;
  std::condition_variable done;
  bool answered = false;
  int answer = platform::kAnswerCancel;
};

struct DialogClosure {
  std::function<void(int)> answered;
  int closedAnswer;
};

void OnResponse(GtkDialog* dialog, gint response, gpointer data) {
  auto* closure = static_cast<DialogClosure*>(data);
  int answer = closure->closedAnswer;
  if (response == platform::kAnswerRetry || response == platform::kAnswerCancel || response == platform::kAnswerOk)
    answer = response;
  auto answered = std::move(closure->answered);
  gtk_widget_destroy(GTK_WIDGET(dialog));  // frees the closure through the weak reference below
  if (answered) answered(answer);
}

}  // namespace

void OpenDialog(const std::string& gbkText, const std::string& gbkCaption, unsigned style,
                std::function<void(int)> answered) {
  const std::string text = platform::GbkToUtf8(gbkText);
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, static_cast<GtkDialogFlags>(0), GTK_MESSAGE_OTHER,
                                             GTK_BUTTONS_NONE, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), platform::GbkToUtf8(gbkCaption).c_str());
  const bool retryCancel = (style & kButtonsMask) == platform::kRetryCancelBox;
  if (retryCancel) {
    gtk_dialog_add_button(GTK_DIALOG(dialog), platform::GbkToUtf8(texts::kButtonRetry).c_str(), platform::kAnswerRetry);
    gtk_dialog_add_button(GTK_DIALOG(dialog), platform::GbkToUtf8(texts::kButtonCancel).c_str(),
                          platform::kAnswerCancel);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), platform::kAnswerRetry);
  } else {
    gtk_dialog_add_button(GTK_DIALOG(dialog), platform::GbkToUtf8(texts::kButtonOk).c_str(), platform::kAnswerOk);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), platform::kAnswerOk);
  }
  // System-modal in spirit: above every other window, in the middle of the screen.
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  auto* closure = new DialogClosure{std::move(answered), retryCancel ? platform::kAnswerCancel : platform::kAnswerOk};
  g_object_weak_ref(
      G_OBJECT(dialog), [](gpointer data, GObject*) { delete static_cast<DialogClosure*>(data); }, closure);
  g_signal_connect(dialog, "response", G_CALLBACK(OnResponse), closure);
  gtk_window_present(GTK_WINDOW(dialog));
}

void GtkDialogs::BringMainWindowToFront() {
  if (queue_.OnMainThread()) {
    bringToFront_();
  } else {
    queue_.Post(bringToFront_);
  }
}

int GtkDialogs::Show(const std::string& text, const std::string& caption, unsigned style) {
  auto pending = std::make_shared<PendingAnswer>();
  auto answered = [pending](int answer) {
    std::lock_guard<std::mutex> lock(pending->mutex);
    pending->answer = answer;
    pending->answered = true;
    pending->done.notify_all();
  };
  if (queue_.OnMainThread()) {
    // Asked by the window thread itself (an image missing while the screen is built, or a stage
    // that answered at once): keep the loop running, so the box can be answered and the splash
    // animates meanwhile.
    OpenDialog(text, caption, style, answered);
    const auto isAnswered = [&pending] {
      std::lock_guard<std::mutex> lock(pending->mutex);
      return pending->answered;
    };
    if (loopUntil_) {
      loopUntil_(isAnswered);
    } else {
      while (!isAnswered()) gtk_main_iteration_do(TRUE);
    }
    return pending->answer;
  }
  queue_.Post([text, caption, style, answered] { OpenDialog(text, caption, style, answered); });
  std::unique_lock<std::mutex> lock(pending->mutex);
  pending->done.wait(lock, [&] { return pending->answered; });
  return pending->answer;
}

}  // namespace gtk_splash

// One launcher at a time: a named mutex marks the running one. A later start finds it, sends
// the registered activation message to every top-level window and leaves; the running one's
// window procedure brings its splash forward.
#include <windows.h>

#include <atomic>
#include <mutex>

#include "platform/instance_guard.h"
#include "platform/win32/activation.h"
#include "platform/win32/win_handles.h"

namespace platform {
namespace {

std::atomic<UINT> activationMessage{0};
std::mutex handlerMutex;
std::function<void()> activationHandler;

class MutexGuard : public InstanceGuard {
 public:
  explicit MutexGuard(win32::UniqueHandle mutex) : mutex_(std::move(mutex)) {}
  void OnActivation(std::function<void()> handler) override {
    std::lock_guard<std::mutex> lock(handlerMutex);
    activationHandler = std::move(handler);
  }

 private:
  win32::UniqueHandle mutex_;  // held for the life of the process
};

void WakeRunningInstance(UINT message) {
  // SendMessageA waits until every top-level window has handled it.
  SendMessageA(HWND_BROADCAST, message, 0, 0);
}

}  // namespace

std::unique_ptr<InstanceGuard> AcquireSingleInstance(const std::string& mutexName, const std::string& messageName) {
  const UINT message = RegisterWindowMessageA(messageName.c_str());
  activationMessage.store(message);
  win32::UniqueHandle existing(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, mutexName.c_str()));
  if (existing) {
    WakeRunningInstance(message);
    return nullptr;
  }
  win32::UniqueHandle mutex(CreateMutexA(nullptr, TRUE, mutexName.c_str()));
  // Two launchers started together can both miss the mutex above; the later creator sees it
  // exist already and steps back, so two runs never write the same archive.
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    WakeRunningInstance(message);
    return nullptr;
  }
  return std::make_unique<MutexGuard>(std::move(mutex));
}

namespace win32 {

UINT ActivationMessage() { return activationMessage.load(); }

void DeliverActivation() {
  std::function<void()> handler;
  {
    std::lock_guard<std::mutex> lock(handlerMutex);
    handler = activationHandler;
  }
  if (handler) handler();
}

}  // namespace win32
}  // namespace platform

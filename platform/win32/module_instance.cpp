#include "platform/win32/module_instance.h"

#include <atomic>

namespace platform::win32 {
namespace {

std::atomic<HINSTANCE> storedInstance{nullptr};

}  // namespace

void SetModuleInstance(HINSTANCE instance) { storedInstance.store(instance); }

HINSTANCE ModuleInstance() {
  if (HINSTANCE instance = storedInstance.load()) return instance;
  return GetModuleHandleW(nullptr);
}

}  // namespace platform::win32

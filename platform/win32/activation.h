// The registered window message by which a later launcher asks the running one to come
// forward. The window procedure compares every message with it.
#pragma once

#include <windows.h>

#include <functional>

namespace platform::win32 {

// The id RegisterWindowMessageA gave for the activation name; 0 before the guard was taken.
UINT ActivationMessage();
// Runs the handler the guard's owner set with OnActivation; called by the window procedure.
void DeliverActivation();

}  // namespace platform::win32

// A splash whose main window cannot be made: the run ends at once, before the first check, with
// a line and a code of its own, never with the 0 of a finished run. Under Wine this is what a
// desktop process that does not come up in time leads to.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/front_end.h"
#include "platform/win32/module_instance.h"

namespace {

TEST(Win32SplashStart, WithoutItsMainWindowTheRunEndsWithItsOwnCodeBeforeAnyCheck) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  platform::win32::SetModuleInstance(instance);
  // The main window's class is taken already, so the splash's own registration fails.
  WNDCLASSEXW taken{};
  taken.cbSize = sizeof taken;
  taken.lpfnWndProc = DefWindowProcW;
  taken.hInstance = instance;
  taken.lpszClassName = L"Tessarine";
  ASSERT_NE(RegisterClassExW(&taken), 0);

  SplashState splash;
  bool flowStarted = false;
  FrontEndHooks hooks;
  hooks.splash = &splash;
  hooks.startFlow = [&flowStarted] { flowStarted = true; };
  testing::internal::CaptureStdout();
  const int code = RunSplashFrontEnd(hooks);
  const std::string output = testing::internal::GetCapturedStdout();
  UnregisterClassW(L"Tessarine", instance);

  EXPECT_EQ(code, kNoSplashWindowExitCode);
  EXPECT_NE(code, 0);
  EXPECT_FALSE(flowStarted);
  EXPECT_NE(output.find("could not create the splash window"), std::string::npos) << output;
}

}  // namespace

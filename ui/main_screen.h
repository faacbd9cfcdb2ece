// The splash's one screen: artwork, logo, slogan, the two notice lines and the progress track on
// the main window; the stage, size and speed texts, the progress fill and the close button each
// on its own overlay form, in that order from lowest to highest.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "ui/forms.h"
#include "ui/splash_state.h"

namespace ui {

// Resource ids of the embedded PNG images.
enum ResourceId : unsigned {
  kCloseButtonImage = 1001,   // 49 x 49
  kLogoImage = 1002,          // 92 x 115
  kPartnerLogoImage = 1003,   // 748 x 200, carried but not placed
  kSloganImage = 1004,        // 261 x 123
  kBackgroundImage = 1005,    // 740 x 328, stretched x1.5 onto the window
  kProgressFillImage = 1006,  // 18 x 15
  kProgressTrackImage = 1007  // 35 x 11
};
constexpr unsigned kProgramIcon = 108;

constexpr int kMainWidth = 1110;
constexpr int kMainHeight = 492;
constexpr int kProgressFullWidth = 564;

struct MainScreen {
  WindowHandle mainWindow = nullptr;
  MyImage* background = nullptr;
  MyImage* logo = nullptr;
  MyImage* slogan = nullptr;
  MyLabel* noticeLine1 = nullptr;
  MyLabel* noticeLine2 = nullptr;
  MySlice9Image* progressTrack = nullptr;
  std::vector<std::unique_ptr<BaseForm>> forms;  // creation order, lowest first
  LabelForm* stageForm = nullptr;
  LabelForm* sizeForm = nullptr;
  LabelForm* speedForm = nullptr;
  Slice9ImageForm* progressForm = nullptr;
  Slice9ImageForm* closeForm = nullptr;
};

// Creates every element and form once, over `mainWindow` of `width` x `height`.
std::unique_ptr<MainScreen> BuildMainScreen(WindowHost& host, WindowHandle mainWindow, int width, int height,
                                            std::function<void()> onCloseClicked);

// A nine-slice form over the main window whose image is `resourceId` at its own size.
Slice9ImageForm* AddSlice9ImageForm(WindowHost& host, MainScreen& screen, unsigned resourceId);

// Brings the screen in line with what the stages last wrote. Texts change only where they differ
// from the previous snapshot (so the built-in texts stay until a stage sets its own), the fill's
// rectangle only when its width differs; visibility follows the snapshot every time (it marks
// an element dirty only on a real change).
class SnapshotApplier {
 public:
  void Apply(MainScreen& screen, const SplashSnapshot& snapshot);

 private:
  SplashSnapshot previous_;
};

}  // namespace ui

#include "ui/main_screen.h"

#include <algorithm>

#include "app/texts.h"

namespace ui {
namespace {

const char* const kInitialSizeText = "0Mb/0Mb";
const char* const kInitialSpeedText = "0Kb/s";

constexpr float kNoticeFontSize = 20;
constexpr float kStageFontSize = 20;
constexpr float kTransferFontSize = 16;

LabelForm* AddLabelForm(WindowHost& host, MainScreen& screen, int x, int y, float fontSize, const char* text) {
  auto form = CreateLabelForm(host, screen.mainWindow);
  LabelForm* raw = form.get();
  screen.forms.push_back(std::move(form));
  raw->Label()->SetPosition(x, y);
  raw->Label()->SetFontSize(fontSize);
  raw->Label()->SetText(text);
  return raw;
}

}  // namespace

Slice9ImageForm* AddSlice9ImageForm(WindowHost& host, MainScreen& screen, unsigned resourceId) {
  auto form = CreateSlice9ImageForm(host, screen.mainWindow);
  form->Attach(CreateSlice9Image(form->Window(), resourceId, {0, 0, -1, -1}, {0, 0, 0, 0}));
  Slice9ImageForm* raw = form.get();
  screen.forms.push_back(std::move(form));
  return raw;
}

std::unique_ptr<MainScreen> BuildMainScreen(WindowHost& host, WindowHandle mainWindow, int width, int height,
                                            std::function<void()> onCloseClicked) {
  auto screen = std::make_unique<MainScreen>();
  MainScreen& s = *screen;
  s.mainWindow = mainWindow;

  // Drawing order on the main window, lowest first.
  s.background = CreateImage(mainWindow, kBackgroundImage, {0, 0, width, height});
  s.logo = CreateImage(mainWindow, kLogoImage, {151, 51, -1, -1});
  s.slogan = CreateImage(mainWindow, kSloganImage, {180, 170, -1, -1});
  s.noticeLine1 = CreateLabel(mainWindow, texts::kNoticeLine1, kNoticeFontSize, {400, 429, -1, -1});
  s.noticeLine2 = CreateLabel(mainWindow, texts::kNoticeLine2, kNoticeFontSize, {400, 451, -1, -1});
  s.progressTrack = CreateSlice9Image(mainWindow, kProgressTrackImage, {404, 410, 562, 15}, {6, 5, 6, 5});

  // Overlays, lowest first.
  s.stageForm = AddLabelForm(host, s, 589, 387, kStageFontSize, texts::kDownloading);
  s.sizeForm = AddLabelForm(host, s, 746, 389, kTransferFontSize, kInitialSizeText);
  s.sizeForm->Label()->SetColor(kOpaqueCyan);
  s.speedForm = AddLabelForm(host, s, 899, 389, kTransferFontSize, kInitialSpeedText);
  s.speedForm->Label()->SetColor(kOpaqueCyan);

  s.progressForm = AddSlice9ImageForm(host, s, kProgressFillImage);
  MySlice9Image* fill = s.progressForm->Slice9();
  fill->SetPosition(402, 411);
  fill->SetRect({402, 411, 0, 17});
  fill->SetInsets({7, 5, 7, 6});

  s.closeForm = AddSlice9ImageForm(host, s, kCloseButtonImage);
  MySlice9Image* close = s.closeForm->Slice9();
  close->SetPosition(1027, 44);
  close->SetRect({1027, 44, -1, -1});
  close->SetOnClick(std::move(onCloseClicked));
  close->SetVisible(false);
  return screen;
}

void SnapshotApplier::Apply(MainScreen& screen, const SplashSnapshot& snapshot) {
  MyLabel* stage = screen.stageForm->Label();
  MyLabel* size = screen.sizeForm->Label();
  MyLabel* speed = screen.speedForm->Label();
  MySlice9Image* fill = screen.progressForm->Slice9();

  if (snapshot.stageText != previous_.stageText) stage->SetText(snapshot.stageText);
  if (snapshot.sizeText != previous_.sizeText) size->SetText(snapshot.sizeText);
  if (snapshot.speedText != previous_.speedText) speed->SetText(snapshot.speedText);
  // A negative width would make the image take its own width; an empty fill is what it means.
  const int fillWidth = std::max(snapshot.fillWidth, 0);
  if (fill->Width() != fillWidth) fill->SetRect({fill->X(), fill->Y(), fillWidth, fill->Height()});

  stage->SetVisible(snapshot.stageVisible);
  size->SetVisible(snapshot.sizeVisible);
  speed->SetVisible(snapshot.speedVisible);
  fill->SetVisible(snapshot.fillVisible);
  screen.closeForm->Slice9()->SetVisible(snapshot.closeVisible);
  previous_ = snapshot;
}

}  // namespace ui

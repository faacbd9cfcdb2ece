#include "ui/my_image.h"

#include <string>

#include "app/texts.h"
#include "platform/dialogs.h"
#include "platform/process_exit.h"
#include "ui/slice9_layout.h"

namespace ui {
namespace {

// Images are part of the program; without one the splash cannot be shown as built.
std::unique_ptr<Image> LoadOrEnd(unsigned resourceId, const char* caption) {
  auto image = LoadPngResource(resourceId);
  if (image) return image;
  const std::string text = std::string(texts::kResourceIdPrefix) + std::to_string(static_cast<int>(resourceId));
  platform::CurrentDialogs().Show(text, caption, platform::kOkBox);
  platform::QuickExit(0);
}

}  // namespace

MyImage::MyImage(WindowHandle owner, unsigned resourceId, std::unique_ptr<Image> image)
    : Drawable(owner), resourceId_(resourceId), image_(std::move(image)) {}

void MyImage::SetRect(const Rect& rect) {
  Rect sized = rect;
  if (sized.width < 0) sized.width = image_->Width();
  if (sized.height < 0) sized.height = image_->Height();
  Drawable::SetRect(sized);
}

void MyImage::DrawImagePart(Canvas& canvas, const RectF& destination, const RectF& source) const {
  canvas.DrawImagePart(*image_, destination, source, TintMatrix(Color()));
}

void MyImage::Draw(Canvas& canvas) const {
  const RectF destination{static_cast<float>(X()), static_cast<float>(Y()), static_cast<float>(Width()),
                          static_cast<float>(Height())};
  DrawImagePart(canvas, destination, {0, 0, static_cast<float>(image_->Width()), static_cast<float>(image_->Height())});
}

void MySlice9Image::SetInsets(const Insets& insets) {
  insets_ = insets;
  MarkDirty();
}

void MySlice9Image::Draw(Canvas& canvas) const {
  for (const auto& part : Slice9Parts(GetRect(), GetImage().Width(), GetImage().Height(), insets_))
    DrawImagePart(canvas, part.destination, part.source);
}

MyImage* CreateImage(WindowHandle owner, unsigned resourceId, const Rect& rect) {
  auto element = std::make_unique<MyImage>(owner, resourceId, LoadOrEnd(resourceId, texts::kImageLoadError));
  element->SetRect(rect);
  return DrawableRegistry::Instance().Add(std::move(element));
}

MySlice9Image* CreateSlice9Image(WindowHandle owner, unsigned resourceId, const Rect& rect, const Insets& insets) {
  auto element = std::make_unique<MySlice9Image>(owner, resourceId, LoadOrEnd(resourceId, texts::kSlice9LoadError));
  element->SetRect(rect);
  element->SetInsets(insets);
  return DrawableRegistry::Instance().Add(std::move(element));
}

}  // namespace ui

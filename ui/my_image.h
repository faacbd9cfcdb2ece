// Image elements: a PNG resource stretched into the element (MyImage) or drawn as a nine-slice
// (MySlice9Image). Both are tinted by the element's colour through the colour matrix.
#pragma once

#include <memory>

#include "ui/drawable.h"

namespace ui {

class MyImage : public Drawable {
 public:
  MyImage(WindowHandle owner, unsigned resourceId, std::unique_ptr<Image> image);

  void Draw(Canvas& canvas) const override;
  // A negative width or height becomes the image's own.
  void SetRect(const Rect& rect) override;

  unsigned ResourceId() const { return resourceId_; }
  const Image& GetImage() const { return *image_; }

 protected:
  // Draws a part of the image through the element's colour as a matrix.
  void DrawImagePart(Canvas& canvas, const RectF& destination, const RectF& source) const;

 private:
  unsigned resourceId_;
  std::unique_ptr<Image> image_;
};

class MySlice9Image : public MyImage {
 public:
  using MyImage::MyImage;

  void Draw(Canvas& canvas) const override;
  void SetInsets(const Insets& insets);
  const Insets& GetInsets() const { return insets_; }

 private:
  Insets insets_;
};

// Factories: load the image, set the rectangle (virtual rule), append to the registry.
// A missing resource shows "资源id=" + id with the class's caption, then ends the process with 0.
MyImage* CreateImage(WindowHandle owner, unsigned resourceId, const Rect& rect);
MySlice9Image* CreateSlice9Image(WindowHandle owner, unsigned resourceId, const Rect& rect, const Insets& insets);

}  // namespace ui

#include "ui/wizard_layout.h"

#include <cstdint>

int ScaleToDpi(int v, int dpi) {
  if (dpi == 96) return v;
  const int64_t product = static_cast<int64_t>(v) * dpi;
  const int64_t half = product >= 0 ? 48 : -48;
  return static_cast<int>((product + half) / 96);
}

TWizardRect TWizardLayout::Client() const {
  return {0, 0, Scale(kClientWidth), Scale(kClientHeight)};
}

TWizardRect TWizardLayout::Header() const {
  TWizardRect r = Client();
  r.Height = Scale(53);
  return r;
}

TWizardRect TWizardLayout::Strip() const {
  const TWizardRect header = Header();
  return {0, header.Bottom(), header.Width, Scale(10)};
}

TWizardRect TWizardLayout::Footer() const {
  const TWizardRect client = Client();
  const int top = client.Bottom() - Scale(44);
  return {0, top, client.Width, client.Bottom() - top};
}

TWizardRect TWizardLayout::Page(bool fullScreen) const {
  const TWizardRect client = Client();
  const int top = fullScreen ? 0 : Strip().Bottom() + Scale(4);
  return {0, top, client.Width, Footer().Top - top};
}

TWizardRect TWizardLayout::HeaderText() const {
  const TWizardRect header = Header();
  return {header.Left + Scale(144), header.Top + Scale(6),
          header.Width - Scale(144) - Scale(16), header.Height - Scale(6) - Scale(12)};
}

TWizardRect TWizardLayout::VersionLabel() const {
  return {Scale(12), Scale(447), Scale(257), Scale(25)};
}

TWizardRect TWizardLayout::BackButton() const {
  return {Scale(384), Scale(447), Scale(121), Scale(25)};
}

TWizardRect TWizardLayout::NextButton() const {
  return {Scale(511), Scale(447), Scale(121), Scale(25)};
}

void TWizardProgressLayout::SetBounds(const TWizardRect& bounds, int pageCount, int dpi) {
  bounds_ = bounds;
  const int margin = ScaleToDpi(2, dpi);
  content_ = {bounds.Left, bounds.Top + margin, bounds.Width, bounds.Height - 2 * margin};
  if (pageCount > 2) segmentWidth_ = content_.Width / (pageCount - 1);
}

TWizardRect TWizardProgressLayout::Segment(int index) const {
  return {content_.Left + index * segmentWidth_, content_.Top, segmentWidth_, content_.Height};
}

TWizardRect TWizardProgressLayout::Filled(int index, int progress) const {
  const TWizardRect segment = Segment(index);
  // Multiply, then divide, rounded.
  const int part = (segmentWidth_ * progress * 2 + 100) / 200;
  return {content_.Left, content_.Top, segment.Left + part - content_.Left, content_.Height};
}

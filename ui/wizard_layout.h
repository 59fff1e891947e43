// The wizard window's layout rectangles at a given DPI.
#pragma once

#include "ui/page_control.h"

// v scaled from 96 DPI to dpi, rounded to the nearest integer with halves
// away from zero.
int ScaleToDpi(int v, int dpi);

class TWizardLayout {
 public:
  static constexpr int kClientWidth = 640;
  static constexpr int kClientHeight = 480;

  explicit TWizardLayout(int dpi = 96) : dpi_(dpi) {}
  int Dpi() const { return dpi_; }
  void SetDpi(int dpi) { dpi_ = dpi; }
  int Scale(int v) const { return ScaleToDpi(v, dpi_); }

  // In client pixels at the current DPI.
  TWizardRect Client() const;
  TWizardRect Header() const;
  TWizardRect Strip() const;
  TWizardRect Footer() const;
  TWizardRect Page(bool fullScreen) const;
  // The area of the header's title and description.
  TWizardRect HeaderText() const;
  TWizardRect VersionLabel() const;
  TWizardRect BackButton() const;
  TWizardRect NextButton() const;

 private:
  int dpi_;
};

// The page-progress strip under the header: one segment per step between
// pages.
class TWizardProgressLayout {
 public:
  // Stores the bounds; with more than two pages the segment width becomes
  // the content's width divided by (pages - 1), else it stays as it was.
  void SetBounds(const TWizardRect& bounds, int pageCount, int dpi);
  const TWizardRect& Bounds() const { return bounds_; }
  const TWizardRect& Content() const { return content_; }
  int SegmentWidth() const { return segmentWidth_; }
  TWizardRect Segment(int index) const;
  // The solid part for the active page's index and progress: from the
  // content's left edge to the segment's left edge + width * progress / 100.
  TWizardRect Filled(int index, int progress) const;

 private:
  TWizardRect bounds_;
  TWizardRect content_;
  int segmentWidth_ = 0;
};

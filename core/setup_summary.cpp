#include "core/setup_summary.h"

#include "core/setup.h"

void TSetupSummaryBuilder::BeginGroup(StringView text) {
  pending_ = String(text);
  if (pending_.empty() || pending_.back() != u':') pending_ += u':';
  hasPending_ = true;
}

void TSetupSummaryBuilder::BeginGroup(StringView section, StringView key) {
  BeginGroup(StripAccessKey(Setup->Resources().GetText(section, key)));
}

void TSetupSummaryBuilder::AddItem(StringView text) {
  if (hasPending_) {
    if (!text_.empty()) text_ += u"\r\n";
    text_ += pending_;
    text_ += u"\r\n";
    pending_.clear();
    hasPending_ = false;
  }
  text_ += u" * ";
  text_ += text;
  text_ += u"\r\n";
}

void TSetupSummaryBuilder::AddItem(StringView section, StringView key) {
  // The texts of check boxes, without their access keys.
  AddItem(StripAccessKey(Setup->Resources().GetText(section, key)));
}

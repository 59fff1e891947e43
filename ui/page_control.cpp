#include "ui/page_control.h"

#include "platform/files.h"

bool TPageControl::HasCaption() const {
  switch (kind_) {
    case TPageControlKind::Label:
    case TPageControlKind::CheckBox:
    case TPageControlKind::RadioButton:
    case TPageControlKind::Link:
      return true;
    default:
      return false;
  }
}

void TPageControl::SetText(StringView text) {
  if (text_ == text && !richText_) return;
  text_ = String(text);
  richText_ = false;
  Notify(TPageControlChange::Text);
}

void TPageControl::LoadRichText(StringView rtf) {
  text_ = String(rtf);
  richText_ = true;
  Notify(TPageControlChange::Text);
}

void TPageControl::SetPlainText(StringView text) {
  text_ = String(text);
  richText_ = false;
  Notify(TPageControlChange::Text);
}

void TPageControl::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  Notify(TPageControlChange::Visible);
}

void TPageControl::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Notify(TPageControlChange::Enabled);
}

void TPageControl::SetChecked(bool checked) {
  if (checked_ == checked) return;
  checked_ = checked;
  Notify(TPageControlChange::Checked);
}

void TPageControl::SetPosition(int position) {
  if (position < 0) position = 0;
  if (position > 100) position = 100;
  if (position_ == position) return;
  position_ = position;
  Notify(TPageControlChange::Position);
}

void TPageControl::SetColor(uint32_t color) {
  if (color_ == color) return;
  color_ = color;
  Notify(TPageControlChange::Color);
}

void TPageControl::Focus() {
  Notify(TPageControlChange::Focus);
}

void TPageControl::Click() {
  if (!enabled_) return;
  if (kind_ == TPageControlKind::CheckBox) SetChecked(!checked_);
  if (kind_ == TPageControlKind::RadioButton) SetChecked(true);
  if (OnClick) OnClick();
}

void TPageControl::Edited(StringView text) {
  if (!enabled_) return;
  text_ = String(text);
  richText_ = false;
  if (OnChange) OnChange();
}

String ViewerLinkTarget(StringView link) {
  if (link.find(u"//") != StringView::npos || (!link.empty() && platform::DirectoryExists(String(link))))
    return String(link);
  return u"https://" + String(link);
}

std::vector<TFormattedRun> ParseFormattedText(StringView text) {
  std::vector<TFormattedRun> runs;
  int links = 0;
  size_t i = 0;
  while (i < text.size()) {
    const size_t open = text.find(u"<a", i);
    const size_t openEnd = open == StringView::npos ? open : text.find(u'>', open);
    const size_t close = openEnd == StringView::npos ? openEnd : text.find(u"</a>", openEnd);
    if (close == StringView::npos) {
      runs.push_back({String(text.substr(i)), String(), -1});
      break;
    }
    if (open > i) runs.push_back({String(text.substr(i, open - i)), String(), -1});
    TFormattedRun link{String(text.substr(openEnd + 1, close - openEnd - 1)), String(), links++};
    const StringView tag = text.substr(open, openEnd - open);
    const size_t href = tag.find(u"href=\"");
    if (href != StringView::npos) {
      const size_t end = tag.find(u'"', href + 6);
      link.Target = String(tag.substr(href + 6, end == StringView::npos ? StringView::npos : end - href - 6));
    } else {
      link.Target = link.Text;
    }
    runs.push_back(link);
    i = close + 4;
  }
  return runs;
}

String FormattedPlainText(StringView text) {
  String plain;
  for (const TFormattedRun& run : ParseFormattedText(text)) plain += run.Text;
  return plain;
}

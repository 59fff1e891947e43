#include "resources/language_dialog.h"

#include <cstring>

#include "lib/system.h"
#include "platform/system_info.h"
#include "resources/setup_resources.h"

namespace {

ILanguageDialogPresenter* g_presenter = nullptr;

uint32_t ReadLE(const uint8_t* p, size_t bytes) {
  uint32_t v = 0;
  for (size_t i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}

}  // namespace

bool TVelIcon::IsIconData(const uint8_t* data, size_t size) {
  static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  constexpr size_t kHeader = 6, kEntry = 16, kBitmapHeader = 40;
  if (!data || size < kHeader) return false;
  const uint32_t count = ReadLE(data + 4, 2);
  if (ReadLE(data, 2) != 0 || ReadLE(data + 2, 2) != 1 || count == 0) return false;
  const size_t directoryEnd = kHeader + kEntry * count;
  if (directoryEnd > size) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = data + kHeader + kEntry * i;
    const uint64_t length = ReadLE(entry + 8, 4);
    const uint64_t offset = ReadLE(entry + 12, 4);
    if (offset < directoryEnd || length < 8 || offset + length > size) return false;
    const uint8_t* image = data + offset;
    const bool png = std::memcmp(image, kPng, sizeof kPng) == 0;
    const bool bitmap = length >= kBitmapHeader && ReadLE(image, 4) >= kBitmapHeader;
    if (!png && !bitmap) return false;
  }
  return true;
}

bool TVelIcon::LoadFromBytes(std::vector<uint8_t> bytes) {
  if (!IsIconData(bytes.data(), bytes.size())) {
    Clear();
    return false;
  }
  data_ = std::move(bytes);
  return true;
}

bool TVelIcon::LoadFromStream(TStream& stream) {
  return LoadFromBytes(ReadAll(stream));
}

void LangGetInfo(const TVelIniFile& document, TVelLocalizationInfo& info, TVelIcon* icon) {
  info.Author = document.ReadString(u"File", u"Author", u"");
  info.LangID = document.ReadInteger(u"File", u"LangId", 0);
  info.Name = document.ReadString(u"File", u"Name", u"");
  info.VersionID = document.ReadInteger(u"File", u"VersionId", 0);
  if (!icon) return;
  icon->Clear();
  document.ReadStream(u"File", u"Icon", [icon](TStream& stream) { icon->LoadFromStream(stream); });
}

void SetLanguageDialogPresenter(ILanguageDialogPresenter* presenter) {
  g_presenter = presenter;
}

ILanguageDialogPresenter* LanguageDialogPresenter() {
  return g_presenter;
}

void TVelCustomLanguageDialog::Initialize() {
  Populate([this](const TVelIniFile& document, int index) { AddLanguage(document, index); });
  SelectDefault();
}

void TVelCustomLanguageDialog::AddLanguage(const TVelIniFile& document, int index) {
  TVelLocalizationInfo info;
  TVelIcon icon;
  LangGetInfo(document, info, &icon);
  TItem item;
  item.Caption = info.Name;
  item.LangID = info.LangID;
  item.Index = index;
  if (!icon.Empty()) {
    images_.push_back(std::move(icon));
    item.ImageIndex = static_cast<int>(images_.size()) - 1;
  }
  // After every item that does not compare greater: equal names keep the
  // order in which they came.
  auto at = items_.begin();
  while (at != items_.end() && CompareTextLocale(at->Caption, item.Caption) <= 0) ++at;
  items_.insert(at, std::move(item));
}

void TVelCustomLanguageDialog::SelectDefault() {
  if (items_.empty()) {
    itemIndex_ = -1;
    return;
  }
  const int32_t userLanguage = platform::UserDefaultUILanguage();
  for (const int32_t wanted : {userLanguage, int32_t{1033}}) {
    for (size_t i = 0; i < items_.size(); ++i) {
      if (items_[i].LangID == wanted) {
        itemIndex_ = static_cast<int>(i);
        return;
      }
    }
  }
  itemIndex_ = 0;
}

int TVelCustomLanguageDialog::SelectedIndex() const {
  return itemIndex_ < 0 ? -1 : items_[static_cast<size_t>(itemIndex_)].Index;
}

void TVelCustomLanguageDialog::SetItemIndex(int index) {
  itemIndex_ = index >= 0 && index < Count() ? index : -1;
}

bool TVelCustomLanguageDialog::ShowModal() {
  if (!g_presenter) return false;
  g_presenter->ShowModal(*this);
  return true;
}

void TSetupLanguageDialog::Populate(const TLanguageCallback& callback) {
  TVelIniFile document;
  const TVelStringList& langs = resources_.Langs();
  for (int i = 0; i < langs.Count(); ++i) {
    std::unique_ptr<TMemoryStream> stream;
    if (!resources_.SetupPackage().Extract(langs.Strings(i), stream)) continue;
    document.LoadFromStream(*stream);
    callback(document, i);
  }
}

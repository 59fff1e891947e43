// Language files from arbitrary bytes: the information and icon of the
// "File" section, the dialog's items built from them, and icon data taken
// as it is.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "lib/ini_file.h"
#include "resources/language_dialog.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

class TOneDialog : public TVelCustomLanguageDialog {
 public:
  explicit TOneDialog(const TVelIniFile& document) : document_(document) {}
  void Populate(const TLanguageCallback& callback) override {
    callback(document_, 0);
    callback(document_, 1);
  }

 private:
  const TVelIniFile& document_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TVelIcon raw;
  Check(raw.LoadFromBytes(std::vector<uint8_t>(data, data + size)) == !raw.Empty());

  TVelIniFile document;
  TMemoryStream stream(std::vector<uint8_t>(data, data + size));
  document.LoadFromStream(stream);
  TVelLocalizationInfo info;
  TVelIcon icon;
  LangGetInfo(document, info, &icon);
  Check(icon.Empty() || TVelIcon::IsIconData(icon.Data().data(), icon.Data().size()));

  TOneDialog dialog(document);
  dialog.Initialize();
  Check(dialog.Count() == 2 && dialog.SelectedIndex() == 0);
  Check(dialog.Items(0).Index == 0 && dialog.Items(1).Index == 1);
  return 0;
}

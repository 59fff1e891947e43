// Language information of language files, and the language choice dialog.
// The dialog's logic (its items, their order and the default selection) is
// kept here, free of any toolkit; the window itself is shown by a presenter
// that the user-interface layer installs.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "lib/ini_file.h"
#include "lib/stream.h"
#include "lib/strings.h"

class TSetupResources;

// The "File" section of a language file.
struct TVelLocalizationInfo {
  String Author;
  int32_t LangID = 0;
  String Name;
  int32_t VersionID = 0;
};

// A small icon held in the .ico file format. Only a well-formed icon
// directory is accepted: a header (reserved 0, type 1, at least one image),
// and images that lie within the data and begin with a bitmap header or a
// PNG signature.
class TVelIcon {
 public:
  // Takes the rest of the stream. False (and the icon cleared) when it is not
  // an icon.
  bool LoadFromStream(TStream& stream);
  bool LoadFromBytes(std::vector<uint8_t> bytes);
  void Clear() { data_.clear(); }
  bool Empty() const { return data_.empty(); }
  const std::vector<uint8_t>& Data() const { return data_; }

  static bool IsIconData(const uint8_t* data, size_t size);

 private:
  std::vector<uint8_t> data_;
};

// Fills info from the document's "File" section ("Author", "LangId" default
// 0, "Name", "VersionId" default 0) and, when icon is given, loads "Icon"
// into it (absent, empty or undecodable: the icon is cleared).
void LangGetInfo(const TVelIniFile& document, TVelLocalizationInfo& info, TVelIcon* icon);

class TVelCustomLanguageDialog;

// Shows a language dialog modally (the user-interface layer implements it).
// The presenter reads the items and images and sets the selection with
// SetItemIndex; how the window was closed does not matter.
class ILanguageDialogPresenter {
 public:
  virtual ~ILanguageDialogPresenter() = default;
  virtual void ShowModal(TVelCustomLanguageDialog& dialog) = 0;
};

// The presenter in force (null: dialogs cannot be shown). The caller keeps
// ownership.
void SetLanguageDialogPresenter(ILanguageDialogPresenter* presenter);
ILanguageDialogPresenter* LanguageDialogPresenter();

class TVelCustomLanguageDialog {
 public:
  // One combo-box item.
  struct TItem {
    String Caption;       // the language's display name
    int ImageIndex = -1;  // into Images, or -1
    int32_t LangID = 0;
    int Index = -1;  // the language's index as given to the callback
  };
  using TLanguageCallback = std::function<void(const TVelIniFile& document, int index)>;

  // Sizes of the window at 96 DPI.
  static constexpr int kClientWidth = 220;
  static constexpr int kClientHeight = 75;

  TVelCustomLanguageDialog() = default;
  TVelCustomLanguageDialog(const TVelCustomLanguageDialog&) = delete;
  TVelCustomLanguageDialog& operator=(const TVelCustomLanguageDialog&) = delete;
  virtual ~TVelCustomLanguageDialog() = default;

  // Populates the items and selects the default; call once after
  // construction.
  void Initialize();

  // Calls callback once per language with its document and index.
  virtual void Populate(const TLanguageCallback& callback) {}
  // The first item whose identifier is the user's default UI language, else
  // the first with 1033, else the first item.
  virtual void SelectDefault();

  // The selected item's language index, or -1 when nothing is selected.
  int SelectedIndex() const;
  int ItemIndex() const { return itemIndex_; }
  // An index outside the items selects nothing.
  void SetItemIndex(int index);

  int Count() const { return static_cast<int>(items_.size()); }
  const TItem& Items(int index) const { return items_.at(static_cast<size_t>(index)); }
  // The 16 x 16 image list.
  const std::vector<TVelIcon>& Images() const { return images_; }
  const String& Caption() const { return caption_; }

  // Shows the dialog through the installed presenter; false when there is
  // none.
  bool ShowModal();

 protected:
  // The callback of Initialize: reads the language's information and
  // inserts its item after every item whose name does not compare greater.
  void AddLanguage(const TVelIniFile& document, int index);

 private:
  String caption_ = u"Select Language";
  std::vector<TItem> items_;
  std::vector<TVelIcon> images_;
  int itemIndex_ = -1;
};

// The setup's language dialog: the languages of the setup package.
class TSetupLanguageDialog : public TVelCustomLanguageDialog {
 public:
  explicit TSetupLanguageDialog(TSetupResources& resources) : resources_(resources) {}
  // Each name of Langs found in the setup package (only there), loaded into
  // one reused document; names not found are skipped.
  void Populate(const TLanguageCallback& callback) override;

 private:
  TSetupResources& resources_;
};

// The installation script "Install.xml": file entries in four groups
// (components, actions, shortcuts, license texts) and the product settings.
#pragma once

#include <memory>
#include <vector>

#include "lib/stream.h"
#include "lib/string_list.h"
#include "lib/strings.h"
#include "lib/xml_document.h"

// One file entry of a group.
class TSetupScriptFile {
 public:
  TSetupScriptFile() = default;
  virtual ~TSetupScriptFile() = default;

  // Text := the node's text; Name and LangFamily := the attributes "name"
  // and "lang-family" (ASCII letters compared without regard to case; the
  // first of a name counts; an absent one reads as empty).
  virtual void Load(const TVelXMLNode& node);

  // The name under which the file is looked up in the packages: Text when
  // it is not empty, else the file-name part of Name (after its last
  // backslash, slash or colon).
  String PackageName() const;
  // True when LangFamily is empty or equals family without regard to case.
  bool MatchesFamily(StringView family) const;

  String Name;
  String Text;
  String LangFamily;
};

// An owning, ordered list of entries.
class TSetupScriptGroup {
 public:
  TSetupScriptGroup() = default;
  TSetupScriptGroup(const TSetupScriptGroup&) = delete;
  TSetupScriptGroup& operator=(const TSetupScriptGroup&) = delete;
  virtual ~TSetupScriptGroup() = default;

  // LoadItem for every child element; a node without child elements but
  // with text adds one entry named by that text.
  virtual void Load(const TVelXMLNode& node);
  // Adds and loads an entry for a "File" element; ignores other elements.
  virtual void LoadItem(const TVelXMLNode& node);

  TSetupScriptFile& Add();
  int Count() const { return static_cast<int>(items_.size()); }
  TSetupScriptFile& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }
  // The first entry, in document order, that matches family; null when none.
  TSetupScriptFile* FindByFamily(StringView family) const;
  bool FindByFamily(StringView family, TSetupScriptFile*& entry) const;

 private:
  std::vector<std::unique_ptr<TSetupScriptFile>> items_;
};

class TSetupScript {
 public:
  TSetupScript() = default;
  TSetupScript(const TSetupScript&) = delete;
  TSetupScript& operator=(const TSetupScript&) = delete;
  virtual ~TSetupScript() = default;

  // Parses the script (a malformed document keeps what was read before the
  // fault; groups add to what they hold). Nothing is written: a copy of the
  // parsed document beside the running program would stop a run from a
  // read-only share, and the elevated process must not write into a folder
  // that other users can write.
  void Load(TStream& stream);
  void LoadDocument(const TVelXMLDocument& document);

  // The value of the last "name=value" line whose name equals name without
  // regard to case; empty when there is none.
  String GetSetting(StringView name) const;

  TSetupScriptGroup Actions;
  TSetupScriptGroup Components;
  TSetupScriptGroup License;
  TVelStringList Settings;
  TSetupScriptGroup Shortcuts;
};

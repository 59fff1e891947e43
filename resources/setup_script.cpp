#include "resources/setup_script.h"

#include <algorithm>

#include "lib/system.h"
#include "platform/system_info.h"

void TSetupScriptFile::Load(const TVelXMLNode& node) {
  Text = node.NodeValue();
  Name = node.Attributes().GetValueDef(u"name");
  LangFamily = node.Attributes().GetValueDef(u"lang-family");
}

String TSetupScriptFile::PackageName() const {
  if (!Text.empty()) return Text;
  // The file-name part: after the last backslash, slash or colon. The folder
  // variables end with a backslash once expanded, so "$DESTMivo.exe" (the
  // way scripts are written) names the package file "Mivo.exe" as well.
  const size_t sep = Name.find_last_of(u"\\/:");
  size_t cut = sep == String::npos ? 0 : sep + 1;
  for (const StringView folder : {u"$DEST", u"$TEMP", u"$DESKTOP", u"$STARTMENU", u"$PROGRAMS"}) {
    const size_t at = Name.rfind(folder);
    if (at != String::npos) cut = std::max(cut, at + folder.size());
  }
  return Name.substr(cut);
}

bool TSetupScriptFile::MatchesFamily(StringView family) const {
  return LangFamily.empty() || SameTextLocale(LangFamily, family);
}

void TSetupScriptGroup::Load(const TVelXMLNode& node) {
  for (int i = 0; i < node.Count(); ++i) LoadItem(*node.Nodes(i));
  if (node.Count() == 0 && !node.NodeValue().empty()) Add().Name = node.NodeValue();
}

void TSetupScriptGroup::LoadItem(const TVelXMLNode& node) {
  if (SameTextLocale(node.NodeName(), u"File")) Add().Load(node);
}

TSetupScriptFile& TSetupScriptGroup::Add() {
  items_.push_back(std::make_unique<TSetupScriptFile>());
  return *items_.back();
}

TSetupScriptFile* TSetupScriptGroup::FindByFamily(StringView family) const {
  for (const auto& item : items_)
    if (item->MatchesFamily(family)) return item.get();
  return nullptr;
}

bool TSetupScriptGroup::FindByFamily(StringView family, TSetupScriptFile*& entry) const {
  entry = FindByFamily(family);
  return entry != nullptr;
}

void TSetupScript::Load(TStream& stream) {
  TVelXMLDocument document;
  document.LoadFromStream(stream);
  LoadDocument(document);
}

void TSetupScript::LoadDocument(const TVelXMLDocument& document) {
  if (document.Count() == 0) return;
  const TVelXMLNode& root = *document.Nodes(0);

  TVelXMLNode* setup = nullptr;
  TVelXMLNode* license = nullptr;
  if (root.FindNode(u"setup", setup) && setup->FindNode(u"license", license))
    License.Load(*license);

  TVelXMLNode* node = nullptr;
  if (!root.FindNode(u"product", node)) return;
  for (int i = 0; i < node->Count(); ++i) {
    const TVelXMLNode& group = *node->Nodes(i);
    const String& name = group.NodeName();
    if (SameTextLocale(name, u"Components")) {
      Components.Load(group);
    } else if (SameTextLocale(name, u"Actions")) {
      Actions.Load(group);
    } else if (SameTextLocale(name, u"Settings")) {
      for (int j = 0; j < group.Count(); ++j) {
        const TVelXMLAttributes& attributes = group.Nodes(j)->Attributes();
        Settings.Add(attributes.GetValueDef(u"name") + u"=" + attributes.GetValueDef(u"value"));
      }
    } else if (SameTextLocale(name, u"Shortcuts")) {
      Shortcuts.Load(group);
    }
  }
}

String TSetupScript::GetSetting(StringView name) const {
  const int index = Settings.IndexOfName(name);
  return index < 0 ? String() : Settings.ValueFromIndex(index);
}

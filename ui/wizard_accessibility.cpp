#include "ui/wizard_accessibility.h"

#include "ui/wizard_form.h"

const char* AccessibleRoleText(TAccessibleRole role) {
  switch (role) {
    case TAccessibleRole::StaticText:
      return "text";
    case TAccessibleRole::PushButton:
      return "push button";
    case TAccessibleRole::CheckBox:
      return "check box";
    case TAccessibleRole::RadioButton:
      return "radio button";
    case TAccessibleRole::ProgressBar:
      return "progress bar";
    case TAccessibleRole::EditableText:
      return "editable text";
    case TAccessibleRole::Link:
      return "link";
  }
  return "";
}

namespace {

// The name a label gives the control it names.
String LabelName(const TPageControl* label) {
  return label ? label->Text() : String();
}

TAccessibleControl Describe(const TSetupCustomPage& page, const TPageControl& control) {
  TAccessibleControl item;
  item.Control = &control;
  item.Unavailable = !control.Enabled();
  switch (control.Kind()) {
    case TPageControlKind::Label:
    case TPageControlKind::Warning:
      // Painted without access keys: the text as it stands.
      item.Name = control.Text();
      break;
    case TPageControlKind::Formatted:
      item.Name = FormattedPlainText(control.Text());
      break;
    case TPageControlKind::Link:
      item.Role = TAccessibleRole::Link;
      item.Name = control.Text();
      break;
    case TPageControlKind::CheckBox:
    case TPageControlKind::RadioButton:
      item.Role = control.Kind() == TPageControlKind::CheckBox ? TAccessibleRole::CheckBox
                                                               : TAccessibleRole::RadioButton;
      item.Name = StripAccessKey(control.Text());
      item.Checked = control.Checked();
      break;
    case TPageControlKind::ProgressBar:
      item.Role = TAccessibleRole::ProgressBar;
      item.Name = LabelName(control.Label);
      item.Value = IntToStr(control.Position()) + u"%";
      break;
    case TPageControlKind::PathEdit:
      item.Role = TAccessibleRole::EditableText;
      item.Name = LabelName(control.Label);
      item.Value = control.Text();
      break;
    case TPageControlKind::Viewer:
    case TPageControlKind::ErrorList:
      item.Role = TAccessibleRole::EditableText;
      item.ReadOnly = true;
      item.Name = control.Label || control.Kind() == TPageControlKind::ErrorList
                      ? LabelName(control.Label)
                      : page.Caption();
      if (!control.RichText()) item.Value = control.Text();
      break;
  }
  return item;
}

TAccessibleControl FooterButton(StringView key, bool enabled) {
  TAccessibleControl item;
  item.Role = TAccessibleRole::PushButton;
  item.Name = StripAccessKey(Setup->Resources().GetText(kSettingsCommon, key));
  item.Unavailable = !enabled;
  return item;
}

}  // namespace

std::vector<TAccessibleControl> DescribePage(const TSetupCustomPage& page) {
  std::vector<TAccessibleControl> items;
  for (const auto& control : page.Controls()) {
    if (!control->Visible()) continue;
    items.push_back(Describe(page, *control));
    if (control->Kind() == TPageControlKind::PathEdit) {
      TAccessibleControl button;
      button.Control = control.get();
      button.EmbeddedButton = true;
      button.Role = TAccessibleRole::PushButton;
      button.Name = StripAccessKey(control->ButtonText);
      button.Unavailable = !control->Enabled();
      items.push_back(button);
    }
  }
  return items;
}

std::vector<TAccessibleControl> DescribeWizard(const TWizardForm& form) {
  std::vector<TAccessibleControl> items;
  if (const TSetupCustomPage* page = form.ActivePage()) items = DescribePage(*page);
  if (form.BackVisible()) items.push_back(FooterButton(u"bBack", true));
  items.push_back(FooterButton(form.NextCaptionKey(), form.NextEnabled()));
  return items;
}

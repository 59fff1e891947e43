// What screen readers learn of the wizard, free of any toolkit: each shown
// control's role, name, value and states as the accessibility interfaces
// report them for the window the binding makes of it (standard classes
// keep their roles and states; the binding names what shows no caption of
// its own).
#pragma once

#include <cstdint>
#include <vector>

#include "lib/strings.h"
#include "ui/setup_pages.h"

class TWizardForm;

// The roles, as the accessibility interfaces name them.
enum class TAccessibleRole : uint8_t {
  StaticText,    // "text": labels, warning lines, texts with links
  PushButton,    // "push button"
  CheckBox,      // "check box"
  RadioButton,   // "radio button"
  ProgressBar,   // "progress bar"
  EditableText,  // "editable text": edits, viewers, the error list
  Link,          // "link"
};

// The system's text for the role (GetRoleText's English one).
const char* AccessibleRoleText(TAccessibleRole role);

struct TAccessibleControl {
  // The page control; null for the footer's buttons.
  const TPageControl* Control = nullptr;
  // The embedded button of a path edit.
  bool EmbeddedButton = false;
  TAccessibleRole Role = TAccessibleRole::StaticText;
  // A caption without its access key's "&", a label's text, a formatted
  // text without its markup; an edit or viewer takes its label's text (a
  // viewer without one: the page's caption).
  String Name;
  // An edit's or the error list's text, a plain-text viewer's, a progress
  // bar's position as "42%".
  String Value;
  bool Checked = false;
  bool Unavailable = false;
  bool ReadOnly = false;
};

// The page's visible controls in its order (a path edit, then its button).
std::vector<TAccessibleControl> DescribePage(const TSetupCustomPage& page);
// The active page's controls, then the footer's Back (while shown) and Next.
std::vector<TAccessibleControl> DescribeWizard(const TWizardForm& form);

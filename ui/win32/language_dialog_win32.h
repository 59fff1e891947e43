// The language dialog as a Win32 window: "Select Language", an image combo
// box with the languages' 16 x 16 icons (scaled to the screen's DPI) and an
// OK button, shown modally.
#pragma once

#include <functional>

#include "lib/strings.h"
#include "resources/language_dialog.h"

// What can be seen and done while the window is shown (for tests).
class ILanguageDialogWindow {
 public:
  virtual ~ILanguageDialogWindow() = default;
  virtual String Caption() = 0;
  virtual int ClientWidth() = 0;
  virtual int ClientHeight() = 0;
  // The screen's DPI the window was scaled for.
  virtual int Dpi() = 0;
  virtual bool TopMost() = 0;
  virtual bool HasBorderIcons() = 0;
  virtual int ItemCount() = 0;
  virtual String ItemText(int index) = 0;
  // -1 when the item shows no picture.
  virtual int ItemImage(int index) = 0;
  virtual int ImageCount() = 0;
  // The width and height of the pictures in pixels.
  virtual int ImageSize() = 0;
  virtual int SelectedItem() = 0;
  // Selects an item as the user would.
  virtual void Select(int index) = 0;
  // Clicks OK.
  virtual void PressOk() = 0;
  // Closes the window without OK.
  virtual void Close() = 0;
};

class TWin32LanguageDialogPresenter : public ILanguageDialogPresenter {
 public:
  void ShowModal(TVelCustomLanguageDialog& dialog) override;

  // Called once the window is shown, from inside the modal loop.
  std::function<void(ILanguageDialogWindow&)> OnShown;
};

// Installs a process-wide Win32 presenter for every language dialog.
void InstallWin32LanguageDialog();

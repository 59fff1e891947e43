// The setup resources: the two packages the installer carries, the
// installation script, the language document and the path variables.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

#include "lib/format.h"
#include "lib/ini_file.h"
#include "lib/stream.h"
#include "lib/string_list.h"
#include "lib/strings.h"
#include "package/package_loader.h"
#include "package/setup_package.h"
#include "resources/installer_errors.h"
#include "resources/setup_message_box.h"
#include "resources/setup_script.h"
#include "resources/streamed_package.h"

// What the resources need of the controller and the product description,
// which sit above them. Values are asked for only when a text uses them.
class ISetupResourcesHost {
 public:
  virtual ~ISetupResourcesHost() = default;
  // The destination folder as the controller holds it (trailing backslash).
  virtual String DestPath() = 0;
  virtual String ProductHomePage() = 0;
  virtual String ProductName() = 0;
  // The version, ", " and the build date.
  virtual String ProductVersionText() = 0;
  // True for automatic runs (no language dialog).
  virtual bool IsAutoRun() = 0;
};

// A decoded picture, 4 bytes a pixel (B, G, R, A, not premultiplied), rows
// top to bottom.
struct TSetupImage {
  uint32_t Width = 0;
  uint32_t Height = 0;
  std::vector<uint8_t> Pixels;
  // Drawn with the pixel centres at half-pixel offsets.
  bool HalfPixelOffset = true;
};

class TSetupResources {
 public:
  // Opens the packages ("SETUP" and "PRODUCT" resources of the running
  // program; for a program named "Uninstall.exe" the file "Uninstall.dat"
  // beside it instead of "PRODUCT"), loads "Install.xml", lists the languages
  // and reads the folders. Raises on any failure. When the program carries
  // the product package's file table ("PRODUCTTABLE"), names are looked up
  // in that table at once. With the SHA-256 of the package's bytes
  // ("PRODUCTDIGEST") as well, the package is checked against it on a thread
  // of its own and decoded only as files are asked for (TStreamedPackage);
  // without it, it is decoded whole on a thread of its own, and what needs
  // its bytes waits for that (and raises its failure). WaitForPackages tells
  // when the package is verified.
  explicit TSetupResources(ISetupResourcesHost& host);
  TSetupResources(const TSetupResources&) = delete;
  TSetupResources& operator=(const TSetupResources&) = delete;
  virtual ~TSetupResources();

  // A private copy of the named package file, positioned at 0: the product
  // package first, then the setup package. EInstallerInstallError
  // "Cannot locate \"%s\" file in setup archive" when neither has it.
  std::unique_ptr<TMemoryStream> OpenFile(StringView name);
  // The same file read in place: a read-only stream over its bytes in the
  // decoded package, valid as long as the resources. Same error.
  std::unique_ptr<TReadOnlyMemoryStream> OpenFileView(StringView name);
  // The named PNG picture. EInstallerInstallError when it cannot be decoded.
  std::unique_ptr<TSetupImage> LoadImage(StringView name);
  // The lines of the named file (encoding by byte-order mark, else ANSI).
  std::unique_ptr<TVelStringList> LoadStringList(StringView name);
  // "Family" of the "File" section of the language document, default "EN".
  String GetLanguageFamily() const;
  // The language text (empty when absent), expanded.
  String GetText(StringView section, StringView key);
  // "\n" (backslash, n) becomes CR LF, then the path variables are replaced.
  String ExpandText(StringView text);
  // ExpandText, then SanitizeSetupPath.
  String ExpandPath(StringView text);
  // The license text for the language family (else for "EN"); null when the
  // script names none.
  std::unique_ptr<TMemoryStream> GetLicense();

  // Loads "English.lng", lets the user choose a language (unless the run is
  // automatic) and lays the chosen language over English.
  void InitializeLanguages();
  // The chosen language file's name; "English.lng" when there are none.
  String ChooseLanguage();

  TVelIniFile& Lang() { return *lang_; }
  const TVelIniFile& Lang() const { return *lang_; }
  const String& LangName() const { return langName_; }
  const TVelStringList& Langs() const { return *langs_; }
  // Whether the product package has that file, without waiting.
  bool ProductHas(StringView name);
  // Waits until the product package is verified (checked against the
  // digest the program carries, or else decoded and checked whole); raises
  // its failure. Nothing may be changed on disk before this has returned
  // true.
  // False when stopped() (asked every few milliseconds while waiting) says
  // to give up first: a cancelled run does not wait for the decoding.
  bool WaitForPackages(const std::function<bool()>& stopped = nullptr);
  // Raises the product package's failure when its decoding has ended with
  // one; returns at once otherwise.
  void RaisePackageFailure();
  TSetupPackageReader& SetupPackage() { return *setupPackage_; }
  // The product package when the program carries its table and digest:
  // decoded as files are asked for, never held whole; null otherwise.
  TStreamedPackage* StreamedProduct() { return streamed_.get(); }
  TSetupScript& Script() { return *script_; }
  const String& DesktopDir() const { return desktopDir_; }
  const String& ProgramFilesDir() const { return programFilesDir_; }
  const String& ProgramFilesX86Dir() const { return programFilesX86Dir_; }
  const String& StartMenuDir() const { return startMenuDir_; }
  ISetupResourcesHost& Host() { return host_; }

 private:
  // The product package, decoded and verified: may wait for the decoding
  // and raise its failure. Not for a streamed package.
  TSetupPackageReader& ProductPackage();
  // A file of the streamed product package; null when there is none.
  const std::vector<uint8_t>* StreamedFile(StringView name);

  ISetupResourcesHost& host_;
  std::unique_ptr<TVelIniFile> lang_;
  String langName_;
  std::unique_ptr<TVelStringList> langs_;
  std::unique_ptr<TSetupPackageReader> productPackage_;
  std::unique_ptr<TSetupPackageLoader> productLoader_;  // instead, while decoding
  std::unique_ptr<TStreamedPackage> streamed_;          // or instead, with a digest
  std::unique_ptr<TSetupPackageReader> setupPackage_;
  String desktopDir_;
  String programFilesDir_;
  String programFilesX86Dir_;
  String startMenuDir_;
  std::unique_ptr<TSetupScript> script_;
  std::mutex openLock_;
};

// Cleans a path for use as a file name: keeps the root ("C:" or
// "\\server"), and in every other component turns a double quote into an
// apostrophe, removes \ < > * : ? | / and control characters, leading
// spaces, trailing spaces and dots (never the first character), and cuts it
// to 260 characters. Empty components vanish; a trailing backslash stays.
// A "\\?\" prefix is kept and the rest cleaned as a path.
String SanitizeSetupPath(StringView path);

// Copies script entries from the packages to disk.
class TSetupExtractHelper {
 public:
  explicit TSetupExtractHelper(TSetupResources& resources) : resources_(resources) {}
  virtual ~TSetupExtractHelper() = default;

  // Copies the entry's package file (PackageName) to ExpandPath(Name). Any
  // failure becomes EInstallerInstallError: the target, CR LF, the cause.
  void ExtractFile(const TSetupScriptFile& entry);
  // ExtractFile for each entry. A streamed product package is decoded once,
  // front to back, and each file written while the rest decodes; its final
  // checks come after the last file (ESetupPackageReadError, for the run to
  // undo what it wrote). progress is told the share done, 0 to 100.
  void ExtractFiles(const std::vector<const TSetupScriptFile*>& entries,
                    const std::function<void(int percent)>& progress);
  // The target created anew (or truncated) for writing, shared with
  // everyone; a link in its place goes first; null when that is not
  // possible.
  static std::unique_ptr<TStream> OpenTarget(const String& path);
  // Creates the folder and its missing parents. EInstallerInstallError with
  // the "Common" text "E3" (the folder in place of %s) on failure, and for an
  // empty path.
  void ForceFolder(StringView path);
  // ForceFolder for the folder of a target file.
  void ForceTargetFolder(const String& target);
  // Opens the target for writing (created or truncated, shared for reading
  // and writing, written through a 256 KiB buffer): true with target set.
  // When it cannot be created: false when it already holds the source's
  // bytes (from the source's position on); else it is renamed to target +
  // ".bak" (failure ignored) and created again; while that fails the user
  // is asked ("Common" text "QM2": Abort, Retry, Ignore). Abort raises
  // EInstallerInstallError with "E1"; Ignore gives false. A target that
  // cannot even be read for the comparison raises its open error.
  virtual bool CreateTargetStream(const String& targetPath, TStream& source,
                                  std::unique_ptr<TStream>& target);
  // The "Common" text key, expanded and formatted with arguments.
  String FormatText(StringView key, std::initializer_list<FormatArg> arguments);

  // How questions reach the user; the controller sets one that runs on the
  // main thread. Without one, a question is answered with Abort.
  void SetMessageBox(TSetupMessageBox messageBox) { messageBox_ = std::move(messageBox); }
  int AskUser(const String& text, uint32_t flags);

 protected:
  TSetupResources& resources_;

 private:
  TSetupMessageBox messageBox_;
};

// The desktop shell: executing verbs, shortcuts, change notification, and
// loading libraries.
#pragma once

#include <cstdint>
#include <memory>

#include "lib/strings.h"
#include "platform/handles.h"

namespace platform {

constexpr uint32_t kSeeMaskNoCloseProcess = 0x00000040;
constexpr uint32_t kSeeMaskNoAsync = 0x00000100;
constexpr uint32_t kSeeMaskFlagNoUi = 0x00000400;
constexpr uint32_t kSeeMaskNoZoneChecks = 0x00800000;

// The fields of SHELLEXECUTEINFOW that the installer sets.
struct TShellExecuteParams {
  uint32_t mask = 0;
  String verb;  // empty: the default verb
  String file;
  String parameters;
  String directory;
  int show = 1;
};

// ShellExecuteExW. With kSeeMaskNoCloseProcess, process receives the started
// process (empty when the shell started none). False with LastError() on
// failure; a declined elevation prompt is kErrorCancelled (1223).
bool ShellExecuteWith(const TShellExecuteParams& params, TWaitHandle* process);
// ShellExecuteW without owner window: a value above 32 means success.
intptr_t ShellExecuteSimple(const String& verb, const String& file, const String& parameters,
                            const String& directory, int show);

// SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST | SHCNF_FLUSH): file
// associations changed; returns when the shell has been told.
void NotifyAssociationsChanged();

// A shell link (.lnk) through IShellLinkW and IPersistFile (a shell link
// object in-process or from a local server; COM is initialised for the call
// when the thread has none). Empty fields are not set. A drive-absolute link
// path is read with the "\\?\" prefix, so long paths load too.
struct TShellLink {
  String target;
  String arguments;
  String workingDirectory;
  String description;
  String iconPath;
  int iconIndex = 0;
};
bool CreateShellLink(const String& linkPath, const TShellLink& link);
bool ReadShellLink(const String& linkPath, TShellLink& link);

// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32): libraries loaded
// by name come only from the system folder. False where unsupported.
bool RestrictLibrarySearchToSystem();

// A loaded library (LoadLibraryW / GetProcAddress / FreeLibrary).
class TLibrary {
 public:
  TLibrary();
  ~TLibrary();
  TLibrary(const TLibrary&) = delete;
  TLibrary& operator=(const TLibrary&) = delete;
  bool Load(const String& path);  // false with LastError()
  bool Loaded() const;
  void Free();
  // Calls the export as a function without arguments, ignoring its result.
  // False when the library is not loaded or lacks the export.
  bool CallExport(const char* name);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform

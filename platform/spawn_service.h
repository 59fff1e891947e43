// Elevation, the spawn service and the relaunch from the temporary folder.
//
// The installer works elevated, while the programs it starts afterwards run
// as the interactive user: the first, unelevated process keeps a hidden
// message-only window of class "TSetupSpawnService" while it waits for its
// elevated copy, and the elevated process sends it the paths to start
// (WM_COPYDATA, dwData = the registered message "SpawnToken", the path as
// UTF-16 without terminating zero). Without such a partner the desktop
// shell, which is not elevated, is asked to start them.
#pragma once

#include <cstdint>
#include <memory>

#include "lib/strings.h"
#include "platform/messages.h"
#include "platform/security.h"

class TSetupSpawnService {
 public:
  TSetupSpawnService() = delete;

  // Called at most once per process, on the main thread. A token that is
  // not 0 (the window named by SKIPUAC) becomes the target of start requests;
  // 0 creates this process's own spawn window. Raises Exception "SpawnService
  // is already initialized" on a second call, EInvalidOperation "Cannot create
  // window in non-main thread" off the main thread.
  static void Initialize(uintptr_t token);
  // Starts a program or document (with parameters) as the interactive user:
  // through the partner's spawn window when there is one (the request is
  // the path, then, with parameters, a zero and the parameters), else
  // through the desktop shell program of the Windows folder on Windows 6.0
  // or later (the path quoted; with parameters, which it does not take,
  // directly), else through the shell directly. No failure is reported.
  static void Spawn(const String& path, const String& parameters = {});
  // The spawn window's action for a request: ShellOpen of its path with its
  // parameters in this process.
  static void OpenLocally(const String& request);

  static platform::WindowHandle SpawnTarget();
  static bool SpawnOwner();
  static uint32_t SpawnMessageId();
  // Tests only: destroys this process's spawn window and forgets the state.
  static void ResetForTests();
};

// Restarts this executable elevated ("runas") with "/SKIPUAC=<spawn window>
// <arguments>" in the current folder and waits for it, delivering start
// requests meanwhile. True when the elevated process ran (exitCode is then
// its exit code, or 1 when it cannot be read); false when the user declined
// the prompt. Other failures raise EOSError.
bool RelaunchElevated(const String& arguments, uint32_t& exitCode);

// The name of every folder that RelaunchFromTemp makes in the temporary
// folder begins with this text.
inline constexpr char16_t kRelaunchFolderPrefix[] = u"MivoUninstall-";

// Copies this executable and its ".dat" file into a new private folder in
// the temporary folder (a random name; only administrators and the system
// may write it, CreatePrivateFolder), makes that folder the current folder,
// starts the copy with "/PATH=\"<this executable's folder>\" <arguments>"
// and waits for it, delivering sent messages meanwhile. The folder is held,
// so that nobody can put another program in its place, until the copy has
// ended and the files in it are deleted; only what cannot be deleted then
// is marked for deletion at the next restart. Returns the copy's exit code (1 when it cannot be
// read). A failed copy raises EOSError ("<source> -> <target>"), a folder
// that cannot be made or a copy that cannot be started EOSError too.
uint32_t RelaunchFromTemp(const String& arguments);

// Removes a private folder (CreatePrivateFolder) with the files in it and
// releases it. The files go while the folder is still held, so that nobody
// can have put another folder (or a link to one) in its place; a program
// that has just ended may hold its files for a moment longer (Wine does).
// Then the folder, released, goes; a link in its place would go itself.
// Only what still cannot go is left to the next restart. Without
// waitForPrograms, files that cannot go at the first attempt (a program
// still running from the folder) are left to the restart at once.
void RemovePrivateFolder(std::unique_ptr<platform::TPrivateFolder>& folder,
                         bool waitForPrograms = true);

// True for the folder (with trailing backslash) of a copy that
// RelaunchFromTemp started: the temporary folder itself or a folder directly
// in it whose name begins with kRelaunchFolderPrefix (without regard to case).
bool IsRelaunchFolder(const String& folder);

// True when this program is a copy that RelaunchFromTemp started: it runs
// from a folder of that name directly in the temporary folder that belongs
// to the administrators (or the system) and that nobody else may change.
// Only such a copy takes the installation folder from "/PATH": an
// uninstaller started by hand with it would otherwise remove, and run
// programs from, any folder it is given.
bool RunsAsRelaunchedCopy();

// True when this executable's file name is "Uninstall.exe" (without regard
// to case).
bool IsUninstaller();

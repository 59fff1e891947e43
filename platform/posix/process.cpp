// Processes and the shell on the stand-in: programs are fakes registered by
// path that run on a thread; the shell records its calls and lets a test
// decide their outcome; libraries are fakes with named exports.
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/posix/handle_object.h"
#include "platform/posix/internal.h"
#include "platform/posix/standin.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/system_info.h"

namespace platform {

namespace posix_internal {
extern thread_local uint32_t t_process_id;
}

namespace {

using namespace posix_internal;

struct TProcesses {
  std::mutex mutex;
  std::map<String, std::pair<String, standin::TFakeProgram>> programs;  // folded path
  std::map<String, std::map<std::string, std::function<void()>>> libraries;
  std::map<uint32_t, std::weak_ptr<TProcessObject>> running;
  uint32_t next_pid = 4000;
  standin::TShellHook shell_hook;
  std::vector<TShellExecuteParams> shell_calls;
  int assoc_changes = 0;
  bool library_search_restricted = false;
};

TProcesses& Processes() {
  static TProcesses* p = new TProcesses();
  return *p;
}

// The program part of a command line: a quoted first token, or up to the
// first space or tab.
String ProgramOf(const String& commandLine) {
  String s = TrimLeft(commandLine);
  if (!s.empty() && s[0] == u'"') {
    const size_t end = s.find(u'"', 1);
    return s.substr(1, end == String::npos ? String::npos : end - 1);
  }
  const size_t end = s.find_first_of(u" \t");
  return s.substr(0, end);
}

bool FindProgram(const String& path, String& registered, standin::TFakeProgram& program) {
  uint32_t error = 0;
  String full = Normalize(path, error);
  if (error) return false;
  std::lock_guard lock(Processes().mutex);
  auto& programs = Processes().programs;
  for (const String& candidate : {full, full + u".exe"}) {
    auto it = programs.find(Fold(candidate));
    if (it != programs.end()) {
      registered = it->second.first;
      program = it->second.second;
      return true;
    }
  }
  return false;
}

bool Launch(const String& image, standin::TFakeProgram program, const String& commandLine,
            TProcessInfo& info) {
  auto process = std::make_shared<TProcessObject>();
  {
    std::lock_guard lock(Processes().mutex);
    process->pid = Processes().next_pid;
    Processes().next_pid += 4;
    process->image_path = image;
    Processes().running[process->pid] = process;
  }
  const uint32_t pid = process->pid;
  try {
    process->thread =
        std::thread([process, pid, program = std::move(program), commandLine]() mutable {
          t_process_id = pid;
          const uint32_t code = program(commandLine);
          program = nullptr;
          {
            std::lock_guard lock(process->state_mutex);
            process->exit_code = code;
          }
          process->Signal();
        });
  } catch (const std::system_error&) {
    SetLastErrorCode(kErrorNotEnoughMemory);
    return false;
  }
  info.process = TWaitHandle(process);
  info.processId = pid;
  return true;
}

}  // namespace

bool StartProcess(const String& commandLine, int show, TProcessInfo& info) {
  String image;
  standin::TFakeProgram program;
  if (!FindProgram(ProgramOf(commandLine), image, program)) {
    SetLastErrorCode(kErrorFileNotFound);
    return false;
  }
  return Launch(image, std::move(program), commandLine, info);
}

uint32_t WaitForProcessIdle(const TWaitHandle& process, uint32_t timeoutMs) {
  if (!dynamic_cast<TProcessObject*>(process.Get())) {
    SetLastErrorCode(kErrorInvalidHandle);
    return kWaitFailed;
  }
  // Fake programs have no message queue: like console programs on Windows
  // the wait fails at once.
  SetLastErrorCode(kErrorInvalidFunction);
  return kWaitFailed;
}

bool ProcessExitCode(const TWaitHandle& process, uint32_t& exitCode) {
  auto* p = dynamic_cast<TProcessObject*>(process.Get());
  if (!p) {
    SetLastErrorCode(kErrorInvalidHandle);
    return false;
  }
  std::lock_guard lock(p->state_mutex);
  exitCode = p->exit_code;
  return true;
}

namespace posix_internal {

bool IsRunningImage(const String& windowsPath) {
  const String folded = Fold(windowsPath);
  std::lock_guard lock(Processes().mutex);
  for (const auto& [pid, weak] : Processes().running) {
    const std::shared_ptr<TProcessObject> p = weak.lock();
    if (!p) continue;
    bool running;
    {
      std::lock_guard state(p->state_mutex);
      running = p->exit_code == kStillActive;
    }
    if (running && Fold(p->image_path) == folded) return true;
  }
  return false;
}

}  // namespace posix_internal

TWaitHandle OpenProcessById(uint32_t processId) {
  std::lock_guard lock(Processes().mutex);
  auto it = Processes().running.find(processId);
  std::shared_ptr<TProcessObject> p = it == Processes().running.end() ? nullptr : it->second.lock();
  if (!p) {
    SetLastErrorCode(kErrorInvalidParameter);
    return {};
  }
  return TWaitHandle(p);
}

bool ProcessImagePath(uint32_t processId, String& path) {
  if (processId == CurrentProcessId() && t_process_id == 0) {
    path = ModuleFileName();
    return true;
  }
  std::lock_guard lock(Processes().mutex);
  auto it = Processes().running.find(processId);
  std::shared_ptr<TProcessObject> p = it == Processes().running.end() ? nullptr : it->second.lock();
  if (!p) {
    SetLastErrorCode(kErrorInvalidParameter);
    return false;
  }
  path = p->image_path;
  return true;
}

// ---- shell ----

namespace {

uint32_t RunShell(const TShellExecuteParams& params, TWaitHandle* process) {
  standin::TShellHook hook;
  {
    std::lock_guard lock(Processes().mutex);
    Processes().shell_calls.push_back(params);
    hook = Processes().shell_hook;
  }
  // The hook runs first: it may register the program it accepts.
  if (hook) {
    const uint32_t rc = hook(params);
    if (rc != kErrorSuccess) return rc;
  }
  String image;
  standin::TFakeProgram program;
  const bool known = FindProgram(params.file, image, program);
  if (!hook && !known) return kErrorFileNotFound;
  if (!known) return kErrorSuccess;  // the hook accepted a document or address
  String commandLine = u"\"" + image + u"\"";
  if (!params.parameters.empty()) commandLine += u" " + params.parameters;
  TProcessInfo info;
  if (!Launch(image, std::move(program), commandLine, info)) return LastError();
  if (process) *process = info.process;
  return kErrorSuccess;
}

}  // namespace

bool ShellExecuteWith(const TShellExecuteParams& params, TWaitHandle* process) {
  TWaitHandle started;
  const uint32_t rc = RunShell(params, &started);
  if (rc != kErrorSuccess) {
    SetLastErrorCode(rc);
    return false;
  }
  if (process) *process = (params.mask & kSeeMaskNoCloseProcess) ? started : TWaitHandle();
  return true;
}

intptr_t ShellExecuteSimple(const String& verb, const String& file, const String& parameters,
                            const String& directory, int show) {
  TShellExecuteParams params;
  params.verb = verb;
  params.file = file;
  params.parameters = parameters;
  params.directory = directory;
  params.show = show;
  const uint32_t rc = RunShell(params, nullptr);
  if (rc == kErrorSuccess) return 42;
  SetLastErrorCode(rc);
  return rc == kErrorFileNotFound || rc == kErrorPathNotFound ? static_cast<intptr_t>(rc) : 5;
}

void NotifyAssociationsChanged() {
  std::lock_guard lock(Processes().mutex);
  ++Processes().assoc_changes;
}

// The stand-in writes a shell link as lines "Key=Value" (UTF-8).
bool CreateShellLink(const String& linkPath, const TShellLink& link) {
  auto out = OpenFileShared(linkPath, kGenericWrite, 0, kCreateAlways);
  if (!out) return false;
  std::ostringstream text;
  text << "[ShellLink]\n"
       << "Target=" << Utf16ToUtf8(link.target) << "\n"
       << "Arguments=" << Utf16ToUtf8(link.arguments) << "\n"
       << "WorkingDirectory=" << Utf16ToUtf8(link.workingDirectory) << "\n"
       << "Description=" << Utf16ToUtf8(link.description) << "\n"
       << "IconPath=" << Utf16ToUtf8(link.iconPath) << "\n"
       << "IconIndex=" << link.iconIndex << "\n";
  const std::string bytes = text.str();
  out->WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return true;
}

bool ReadShellLink(const String& linkPath, TShellLink& link) {
  auto in = OpenFileShared(linkPath, kGenericRead, kFileShareRead, kOpenExisting);
  if (!in) return false;
  const auto bytes = ReadAll(*in);
  std::istringstream text(std::string(bytes.begin(), bytes.end()));
  std::string line;
  if (!std::getline(text, line) || line != "[ShellLink]") {
    SetLastErrorCode(13);  // ERROR_INVALID_DATA
    return false;
  }
  link = TShellLink();
  while (std::getline(text, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const String value = Utf8ToUtf16(line.substr(eq + 1));
    if (key == "Target") link.target = value;
    if (key == "Arguments") link.arguments = value;
    if (key == "WorkingDirectory") link.workingDirectory = value;
    if (key == "Description") link.description = value;
    if (key == "IconPath") link.iconPath = value;
    if (key == "IconIndex") link.iconIndex = StrToIntDef(value, 0);
  }
  return true;
}

bool RestrictLibrarySearchToSystem() {
  std::lock_guard lock(Processes().mutex);
  Processes().library_search_restricted = true;
  return true;
}

struct TLibrary::Impl {
  std::map<std::string, std::function<void()>> exports;
};

TLibrary::TLibrary() = default;
TLibrary::~TLibrary() = default;

bool TLibrary::Load(const String& path) {
  impl_.reset();
  uint32_t error = 0;
  const String full = Normalize(path, error);
  std::lock_guard lock(Processes().mutex);
  auto it = error ? Processes().libraries.end() : Processes().libraries.find(Fold(full));
  if (it == Processes().libraries.end()) {
    SetLastErrorCode(kErrorModNotFound);
    return false;
  }
  impl_ = std::make_unique<Impl>();
  impl_->exports = it->second;
  return true;
}

bool TLibrary::Loaded() const {
  return impl_ != nullptr;
}
void TLibrary::Free() {
  impl_.reset();
}

bool TLibrary::CallExport(const char* name) {
  if (!impl_) {
    SetLastErrorCode(kErrorInvalidHandle);
    return false;
  }
  auto it = impl_->exports.find(name);
  if (it == impl_->exports.end()) {
    SetLastErrorCode(kErrorProcNotFound);
    return false;
  }
  it->second();
  return true;
}

// ---- configuration ----

namespace standin {

void RegisterProgram(const String& path, TFakeProgram program) {
  uint32_t error = 0;
  const String full = Normalize(path, error);
  std::lock_guard lock(Processes().mutex);
  Processes().programs[Fold(full)] = {full, std::move(program)};
}

void SetShellHook(TShellHook hook) {
  std::lock_guard lock(Processes().mutex);
  Processes().shell_hook = std::move(hook);
}

std::vector<TShellExecuteParams> ShellCalls() {
  std::lock_guard lock(Processes().mutex);
  return Processes().shell_calls;
}

int AssociationChangeCount() {
  std::lock_guard lock(Processes().mutex);
  return Processes().assoc_changes;
}

bool LibrarySearchRestricted() {
  std::lock_guard lock(Processes().mutex);
  return Processes().library_search_restricted;
}

void RegisterLibrary(const String& path,
                     std::vector<std::pair<std::string, std::function<void()>>> exports) {
  uint32_t error = 0;
  const String full = Normalize(path, error);
  std::lock_guard lock(Processes().mutex);
  auto& table = Processes().libraries[Fold(full)];
  table.clear();
  for (auto& [name, fn] : exports) table[name] = std::move(fn);
}

}  // namespace standin

namespace posix_internal {
void ResetProcesses() {
  std::lock_guard lock(Processes().mutex);
  TProcesses& p = Processes();
  p.programs.clear();
  p.libraries.clear();
  p.shell_hook = nullptr;
  p.shell_calls.clear();
  p.assoc_changes = 0;
  p.library_search_restricted = false;
}
}  // namespace posix_internal

}  // namespace platform

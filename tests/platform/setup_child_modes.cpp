// Under Windows the test program is also the child program of the relaunch,
// spawn and wait tests: started with one of the switches of setup_test_util.h
// (or as a copy named SpawnProbe.exe) it does that one thing and ends before
// any test runs. Natively the tests use fake programs instead.
#ifdef _WIN32

#include <cstdlib>
#include <vector>

#include "lib/command_line.h"
#include "lib/exceptions.h"
#include "lib/system.h"
#include "platform/platform.h"
#include "platform/security.h"
#include "platform/spawn_service.h"
#include "platform_fixture.h"
#include "setup_test_util.h"

namespace platform_test {
namespace {

using namespace platform;

// The quoted values that follow the switch on the command line.
bool ValuesAfter(const String& commandLine, const String& name, std::vector<String>& values) {
  values.clear();
  size_t at = commandLine.find(name);
  if (at == String::npos) return false;
  at += name.size();
  for (;;) {
    while (at < commandLine.size() && commandLine[at] == u' ') ++at;
    if (at >= commandLine.size() || commandLine[at] != u'"') break;
    const size_t end = commandLine.find(u'"', at + 1);
    if (end == String::npos) break;
    values.push_back(commandLine.substr(at + 1, end - at - 1));
    at = end + 1;
  }
  return true;
}

void Pause(uint32_t ms) {
  Wait(NewEvent(true, false), ms);
}

uintptr_t ParseHandle(const String& text) {
  uintptr_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') break;
    value = value * 10 + static_cast<uintptr_t>(c - u'0');
  }
  return value;
}

int RunChildMode() {
  const String commandLine = VelSystem().CommandLine();
  const String module = ModuleFileName();
  if (SameTextAscii(ExtractFileName(module), kSpawnProbeName)) {
    WriteText(ExtractFilePath(module) + u"SpawnProbe.txt", "spawned");
    return 0;
  }
  const String arguments = TVelCommandLineProcessor::GetCommandLineArguments(commandLine);
  std::vector<String> values;
  if (ValuesAfter(commandLine, kMarkerSwitch, values) && !values.empty()) {
    Pause(300);  // a caller that does not wait would look before this
    WriteText(values[0], "done");
    return 0;
  }
  if (ValuesAfter(commandLine, kBusySwitch, values) && !values.empty()) {
    for (int round = 0; round < 2400 && !FileExists(values[0]); ++round) Pause(50);
    return 0;
  }
  if (ValuesAfter(commandLine, kElevatedSwitch, values) && !values.empty()) {
    String token;
    TVelCommandLineProcessor::GetSwitchValue(arguments, u"SKIPUAC", token);
    WriteText(values[0], "arguments=" + U8(arguments) + "\ncurrent=" + U8(CurrentFolder()) + "\n");
    if (values.size() >= 2) {
      TSetupSpawnService::Initialize(ParseHandle(token));
      TSetupSpawnService::Spawn(values[1]);
    }
    return static_cast<int>(kElevatedExitCode);
  }
  if (ValuesAfter(commandLine, kRelaunchSwitch, values) && !values.empty()) {
    if (TVelCommandLineProcessor::HasSwitch(arguments, u"PATH")) {
      // The copy in its private folder: what it sees there, then a code of
      // its own for the waiting process to hand on.
      const String folder = ExtractFilePath(module);
      TSecurityInfo security;
      String writers;
      if (ReadSecurityInfo(folder, security))
        for (const String& sid : AccountsWithWriteAccess(security))
          writers += (writers.empty() ? u"" : u",") + sid;
      WriteText(values[0], "module=" + U8(module) + "\ncurrent=" + U8(CurrentFolder()) +
                               "\narguments=" + U8(arguments) + "\nwriters=" + U8(writers) +
                               "\nowner=" + U8(security.owner) +
                               "\nprotected=" + (security.protectedAcl ? "1" : "0") + "\n");
      return static_cast<int>(kRelaunchExitCode);
    }
    try {
      return static_cast<int>(RelaunchFromTemp(arguments));
    } catch (const Exception& e) {
      WriteText(values[0], "error=" + U8(e.Message()) + "\n");
    }
    return 0;
  }
  return -1;
}

const bool g_setup_child_mode = [] {
  platform::Initialize();
  const int code = RunChildMode();
  if (code >= 0) std::exit(code);
  return false;
}();

}  // namespace
}  // namespace platform_test

#endif  // _WIN32

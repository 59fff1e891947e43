// ipk: the package tool's entry point.
#include <cstdio>
#include <iostream>
#include <vector>

#include "platform/platform.h"
#include "tools/ipk/ipk.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

int Main(const std::vector<String>& args) {
  platform::Initialize();
#ifdef _WIN32
  // File bytes from "cat" must pass unchanged; texts are UTF-8 with LF.
  _setmode(_fileno(stdout), _O_BINARY);
  const bool terminal = _isatty(_fileno(stderr)) != 0;
#else
  const bool terminal = isatty(fileno(stderr)) != 0;
#endif
  std::ios::sync_with_stdio(false);
  const int code = ipk::Run(args, std::cout, std::cerr, terminal);
  std::cout.flush();
  if (!std::cout && code == ipk::kOk) return ipk::kFailed;
  return code;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<String> args;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view w(argv[i]);
    args.emplace_back(w.begin(), w.end());
  }
  return Main(args);
}
#else
int main(int argc, char** argv) {
  std::vector<String> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8ToUtf16(argv[i]));
  return Main(args);
}
#endif

// Holds files open the way Windows holds a running program's image: others
// may read and rename them, but nobody may write them.
//
// usage: file_holder.exe READY RELEASE FILE...
// Opens every FILE, then creates READY and waits (at most two minutes) until
// RELEASE exists; exits with 1 when a file cannot be opened.
#include <windows.h>

#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  std::vector<HANDLE> held;
  for (int i = 3; i < argc; ++i) {
    HANDLE file = CreateFileW(argv[i], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    held.push_back(file);
  }
  HANDLE ready = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(ready);
  for (int i = 0; i < 1200 && GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i)
    Sleep(100);
  for (HANDLE file : held) CloseHandle(file);
  return 0;
}

// Holds files open the way Windows holds a running program's image: others
// may read and rename them, but nobody may write them.
//
// usage: file_holder.exe [--share=write|read|none|writing] READY RELEASE FILE...
// Opens every FILE, then creates READY and waits (at most two minutes) until
// RELEASE exists; exits with 1 when a file cannot be opened. With
// --share=write others may read and write the files (not rename or delete
// them), with --share=read only read them, with --share=none not even that;
// --share=writing holds them open for writing (as an editor saving them
// would), letting others read them.
#include <windows.h>

#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
  if (argc > 1 && wcscmp(argv[1], L"--share=write") == 0) share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (argc > 1 && wcscmp(argv[1], L"--share=read") == 0) share = FILE_SHARE_READ;
  if (argc > 1 && wcscmp(argv[1], L"--share=none") == 0) share = 0;
  DWORD access = GENERIC_READ;
  if (argc > 1 && wcscmp(argv[1], L"--share=writing") == 0) {
    share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    access = GENERIC_READ | GENERIC_WRITE;
  }
  if (argc > 1 && wcsncmp(argv[1], L"--share=", 8) == 0) {
    ++argv;
    --argc;
  }
  if (argc < 4) return 2;
  std::vector<HANDLE> held;
  for (int i = 3; i < argc; ++i) {
    HANDLE file = CreateFileW(argv[i], access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
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

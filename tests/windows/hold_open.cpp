// hold_open FILE [none|map]: opens FILE for reading and writing, sharing
// reading and writing but not deletion, as an editor or a log viewer does
// (with "none", sharing nothing, as a program that locks its file does;
// with "map", mapping the whole file into memory as well, as a database
// does); prints "held" and keeps it open until its standard input ends.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 && argc != 3)
    return 2;
  const wchar_t* how = argc == 3 ? argv[2] : L"";
  DWORD share = std::wcscmp(how, L"none") == 0 ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 1;
  if (std::wcscmp(how, L"map") == 0) {
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    if (mapping == nullptr || MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0) == nullptr)
      return 1;
  }
  std::puts("held");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  CloseHandle(file);
  return 0;
}

// msilaunch-pack.exe: the packer's Windows entry. Past RunPacker the
// packer is the same UTF-8 code as on Linux; this file only sets the edge.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/system_library_win32.h"
#include "packer/commands/commands.h"
#include "packer/io/text_win32.h"

int wmain(int argc, wchar_t** argv) {
  // Every DLL loaded from here on (msi.dll, crypt32 and what they load in
  // turn) comes from the system directory, never from beside the packer.
  RestrictDllSearchToSystemDirectory();
  // A drive without a medium fails the call instead of waiting for someone
  // to answer a box on a build agent.
  SetErrorMode(SEM_FAILCRITICALERRORS);
  // The same bytes as on Linux: "\n" stays "\n" in a file or a pipe.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // Messages are UTF-8 (they name paths); a console shows them as such while
  // the packer runs, and gets its own code page back afterwards.
  const UINT consolePage = GetConsoleOutputCP();
  if (consolePage != 0) SetConsoleOutputCP(CP_UTF8);

  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(Utf8FromUtf16(argv[i]));
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(&argument[0]);
  pointers.push_back(nullptr);
  const int status = RunPacker(argc, pointers.data());

  std::fflush(stdout);
  std::fflush(stderr);
  if (consolePage != 0) SetConsoleOutputCP(consolePage);
  return status;
}

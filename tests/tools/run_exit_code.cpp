// run_exit_code PROGRAM [ARGUMENTS...]
//
// Runs the rest of its own command line, unchanged, as a child process,
// waits for it and prints the child's full 32-bit exit code in decimal on
// stdout. Wine passes only the low 8 bits of a Windows exit code to the Unix
// side, so a test that must see 1168 or an HRESULT runs its program through
// this. Ends with 0 when the code was printed; 1 when the child could not be
// run (the reason goes to stderr).
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>

namespace {

// The command line after our own program name, quoted or not, and the
// whitespace behind it.
const wchar_t* CommandLineTail() {
  const wchar_t* p = GetCommandLineW();
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

}  // namespace

int main() {
  // A bare "\n" after the number, also when read from a pipe on the Unix side.
  _setmode(_fileno(stdout), _O_BINARY);
  const wchar_t* tail = CommandLineTail();
  if (*tail == 0) {
    std::fprintf(stderr, "usage: run_exit_code PROGRAM [ARGUMENTS...]\n");
    return 1;
  }
  // CreateProcessW may write into its command line.
  const size_t length = wcslen(tail);
  wchar_t* commandLine = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, (length + 1) * sizeof(wchar_t)));
  if (!commandLine) {
    std::fprintf(stderr, "run_exit_code: out of memory\n");
    return 1;
  }
  wmemcpy(commandLine, tail, length + 1);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "run_exit_code: CreateProcessW failed with %lu\n", GetLastError());
    LocalFree(commandLine);
    return 1;
  }
  LocalFree(commandLine);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  const BOOL got = GetExitCodeProcess(process.hProcess, &code);
  const DWORD error = GetLastError();
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (!got) {
    std::fprintf(stderr, "run_exit_code: GetExitCodeProcess failed with %lu\n", error);
    return 1;
  }
  std::printf("%lu\n", code);
  std::fflush(stdout);
  return 0;
}

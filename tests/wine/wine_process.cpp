#include "tests/wine/wine_process.h"

#include <cstdio>

#include <windows.h>

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
  return wide;
}

std::string Narrow(const std::wstring& text, UINT codePage) {
  if (text.empty()) return std::string();
  const int bytes =
      WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &narrow[0], bytes, nullptr, nullptr);
  return narrow;
}

namespace {

struct ProcessDialogs {
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectProcessDialog(HWND window, LPARAM context) {
  auto* dialogs = reinterpret_cast<ProcessDialogs*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char className[32] = "";
  GetClassNameA(window, className, sizeof className);
  if (owner == dialogs->processId && lstrcmpA(className, "#32770") == 0 && IsWindowVisible(window))
    dialogs->found.push_back(window);
  return TRUE;
}

}  // namespace

std::vector<HWND> VisibleDialogsOf(DWORD processId) {
  ProcessDialogs dialogs{processId, {}};
  EnumWindows(CollectProcessDialog, reinterpret_cast<LPARAM>(&dialogs));
  return dialogs.found;
}

std::wstring ToolsDirectory() {
  std::wstring directory = Widen(MSILAUNCH_TOOLS_DIR);
  for (wchar_t& c : directory)
    if (c == L'/') c = L'\\';
  if (directory.empty() || directory.back() != L'\\') directory += L'\\';
  return directory;
}

bool RunProgram(const std::wstring& commandLine, std::string* output, uint32_t* exitCode,
                const std::wstring& application) {
  output->clear();
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
    *output = "CreatePipe failed: " + std::to_string(GetLastError());
    return false;
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  std::wstring mutableLine = commandLine;  // CreateProcessW may write into it
  const BOOL started = CreateProcessW(application.empty() ? nullptr : application.c_str(), &mutableLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  const DWORD startError = GetLastError();
  CloseHandle(writeEnd);  // so that the read below ends with the child
  if (!started) {
    CloseHandle(readEnd);
    *output = "CreateProcessW failed: " + std::to_string(startError);
    return false;
  }
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) output->append(chunk, got);
  CloseHandle(readEnd);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  *exitCode = code;
  return true;
}

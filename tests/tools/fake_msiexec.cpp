// A stand-in for msiexec.exe. Appends its whole command line, as the system
// hands it over (GetCommandLineA), and a line break to a log file, and ends
// with a chosen exit code (decimal or 0x hex), so tests see exactly what the
// launcher passed and what it makes of each result.
//
// The log file is named by MSILAUNCH_FAKE_MSIEXEC_LOG, else it is
// "fake_msiexec.log" beside this program; the exit code is the value of
// MSILAUNCH_FAKE_MSIEXEC_EXIT_CODE, else the content of
// "fake_msiexec.exitcode" beside it, else 0. Neither depends on the name
// this program runs under, so it can stand where the system's msiexec.exe
// is. When MSILAUNCH_FAKE_MSIEXEC_STARTUP names a file, the start-up
// information's dwFlags and wShowWindow are appended to it as "flags show".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Environment(const char* name) {
  char value[1024];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

std::string Beside(const char* name) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, length < sizeof path ? length : 0);
  return folder.substr(0, folder.rfind('\\') + 1) + name;
}

void Append(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

std::string FirstLine(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[64] = {};
    text = std::fgets(buffer, sizeof buffer, f) ? buffer : "";
    std::fclose(f);
  }
  return text;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::string log = Environment("MSILAUNCH_FAKE_MSIEXEC_LOG");
  Append(log.empty() ? Beside("fake_msiexec.log") : log, std::string(GetCommandLineA()) + "\n");

  const std::string startupLog = Environment("MSILAUNCH_FAKE_MSIEXEC_STARTUP");
  if (!startupLog.empty()) {
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    Append(startupLog, std::to_string(startup.dwFlags) + " " + std::to_string(startup.wShowWindow) + "\n");
  }

  std::string code = Environment("MSILAUNCH_FAKE_MSIEXEC_EXIT_CODE");
  if (code.empty()) code = FirstLine(Beside("fake_msiexec.exitcode"));
  return static_cast<int>(std::strtoul(code.c_str(), nullptr, 0));
}

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
// When MSILAUNCH_FAKE_MSIEXEC_TAMPER names a file, the stand-in first tries,
// as another process would, to change every file in the package's folder and
// the folder itself, then reads each file, and appends what it managed there.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

const char* Outcome(BOOL done) { return done ? "done" : "denied"; }

// Opens `path` for writing, deletes and renames it, then reads it whole.
std::string TamperWithFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  std::string text = std::string("write ") + Outcome(file != INVALID_HANDLE_VALUE);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  text += std::string(", delete ") + Outcome(DeleteFileA(path.c_str()));
  text += std::string(", rename ") + Outcome(MoveFileA(path.c_str(), (path + ".moved").c_str()));
  file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD total = 0, read = 0;
  char buffer[4096];
  while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read) total += read;
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return text + ", read " + std::to_string(total) + " bytes";
}

// The folder of the package after "/i" (quoted or not): its files by name,
// then the folder itself, renamed and removed.
std::string TamperWithPackage(const std::string& commandLine) {
  const size_t at = commandLine.find(" /i ");
  if (at == std::string::npos) return "no package\n";
  std::string package = commandLine.substr(at + 4);
  package = package[0] == '"' ? package.substr(1, package.find('"', 1) - 1) : package.substr(0, package.find(' '));
  const std::string folder = package.substr(0, package.rfind('\\'));
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  while (search != INVALID_HANDLE_VALUE && (names.push_back(found.cFileName), FindNextFileA(search, &found))) {}
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names)
    if (name != "." && name != "..") text += name + ": " + TamperWithFile(folder + "\\" + name) + "\n";
  text += std::string("folder: rename ") + Outcome(MoveFileA(folder.c_str(), (folder + ".moved").c_str()));
  return text + ", remove " + Outcome(RemoveDirectoryA(folder.c_str())) + "\n";
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::string log = Environment("MSILAUNCH_FAKE_MSIEXEC_LOG");
  Append(log.empty() ? Beside("fake_msiexec.log") : log, std::string(GetCommandLineA()) + "\n");
  const std::string tamperLog = Environment("MSILAUNCH_FAKE_MSIEXEC_TAMPER");
  if (!tamperLog.empty()) Append(tamperLog, TamperWithPackage(GetCommandLineA()));

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

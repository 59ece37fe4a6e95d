// The launcher's entry point. The run itself lives in the libraries; this
// file only hands the process to it.
#include <windows.h>

#include "launcher/launcher_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  return static_cast<int>(RunLauncher(instance, showCommand));
}

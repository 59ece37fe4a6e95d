#include "ui/taskbar_progress.h"

#include <shobjidl.h>

#include "base/platform.h"
#include "base/win32_calls.h"

TaskbarProgress* gTaskbarProgress = nullptr;

namespace {

// Written out rather than taken from libuuid: these two are all the launcher
// asks COM for.
const CLSID kTaskbarListClass = {0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
const IID kTaskbarList3Interface = {0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

// CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER
constexpr DWORD kTaskbarListContext = 7;

// Windows 7 is 6.1. Unsigned, as the version fields are.
bool HasTaskbarProgress(const OSVERSIONINFOA& version) {
  return version.dwMajorVersion > 6 || (version.dwMajorVersion == 6 && version.dwMinorVersion >= 1);
}

// Shows the stored pair. Completed comes before total in SetProgressValue.
void ShowValues(const TaskbarProgress* progress) {
  if (!progress->list) return;
  progress->list->SetProgressValue(static_cast<HWND>(progress->window), progress->completed, progress->total);
}

}  // namespace

TaskbarProgress* CreateTaskbarProgress() {
  OSVERSIONINFOA version;
  ZeroMemory(&version, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  gWin32.GetVersionExA(&version);  // a failed query leaves 0.0: no taskbar progress
  if (!HasTaskbarProgress(version)) return nullptr;

  gWin32.CoInitialize(nullptr);  // S_FALSE on a thread start-up has initialised is fine
  auto* progress = static_cast<TaskbarProgress*>(platform::AllocBlock(sizeof(TaskbarProgress), kBlockZeroed));
  if (!progress) return nullptr;
  void* list = nullptr;
  gWin32.CoCreateInstance(kTaskbarListClass, nullptr, kTaskbarListContext, kTaskbarList3Interface, &list);
  progress->list = static_cast<ITaskbarList3*>(list);
  return progress;
}

void ReleaseTaskbarProgress(TaskbarProgress* progress) {
  if (!progress) return;
  if (progress->list) progress->list->Release();
  platform::FreeBlock(progress);
}

void SetTaskbarProgressWindow(TaskbarProgress* progress, void* window) {
  if (progress) progress->window = window;
}

void SetTaskbarProgressState(TaskbarProgress* progress, uint32_t on) {
  if (!progress || !progress->list) return;
  progress->list->SetProgressState(static_cast<HWND>(progress->window), on ? TBPF_NORMAL : TBPF_NOPROGRESS);
}

void SetTaskbarProgressTotal(TaskbarProgress* progress, uint64_t total) {
  if (!progress) return;
  progress->total = total;
  ShowValues(progress);
}

void SetTaskbarProgressCompleted(TaskbarProgress* progress, uint64_t completed) {
  if (!progress) return;
  progress->completed = completed;
  ShowValues(progress);
}

// The run's taskbar progress: a small wrapper around the system's taskbar
// list object (ITaskbarList3, Windows 7 and later). Every operation accepts a
// null wrapper (no taskbar progress here), on which it does nothing, and a
// wrapper without a system object, on which it only records values; callers
// never test for support themselves. Free of <windows.h>, so that portable
// callers can hold the wrapper; the operations exist in the Windows build
// (ui/taskbar_progress_win32.cpp).
#pragma once

#include <cstdint>

struct ITaskbarList3;

struct TaskbarProgress {
  ITaskbarList3* list;  // owned reference; null when the object could not be made
  void* window;         // HWND whose button shows the progress; null until set
  uint64_t total;       // the value of a full bar
  uint64_t completed;
};

// The run's wrapper, through which the progress window reaches it. The
// installation sequence sets it after CreateTaskbarProgress and clears it
// before ReleaseTaskbarProgress; null when there is none.
extern TaskbarProgress* gTaskbarProgress;

// Makes the run's wrapper when Windows is 6.1 or later (GetVersionExA; a
// failed query reads as 0.0), initialising COM for the thread (its result not
// examined) and creating the taskbar list object (a failure leaves `list`
// null). Returns the zero-filled record, owned by the caller and freed with
// ReleaseTaskbarProgress; null below 6.1 or without memory for it.
TaskbarProgress* CreateTaskbarProgress();

// Releases the system object, if any, and frees the record. Null: nothing.
// COM stays initialised: that belongs to the launcher's exit.
void ReleaseTaskbarProgress(TaskbarProgress* progress);

// Stores the window (an HWND) whose taskbar button shows the progress.
void SetTaskbarProgressWindow(TaskbarProgress* progress, void* window);

// Any non-zero `on` shows normal progress (TBPF_NORMAL), 0 none
// (TBPF_NOPROGRESS). Nothing without a system object.
void SetTaskbarProgressState(TaskbarProgress* progress, uint32_t on);

// Store the value, then show the stored completed value against the stored
// total (SetProgressValue, completed first), so either may come first and
// each call shows the latest pair. Without a system object they only store.
void SetTaskbarProgressTotal(TaskbarProgress* progress, uint64_t total);
void SetTaskbarProgressCompleted(TaskbarProgress* progress, uint64_t completed);

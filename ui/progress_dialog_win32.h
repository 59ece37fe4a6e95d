// The progress window: a modal dialog from an in-memory template, with one
// progress bar and no buttons, whose timer drives the chunked writer. The
// decisions are ui/progress_tick.h's; this edge turns messages into them and
// carries them out.
#pragma once

#include <windows.h>

#include <cstdint>

#include "package/file_set.h"

// The private window class the installation sequence names.
constexpr char kProgressWindowClass[] = "MSI_STUB_WINDOW_CLASS_NAME";
constexpr char kProgressWindowFont[] = "MS Sans Serif";

// The bar's control identifier and the window's timer.
constexpr int kProgressBarId = 100;
constexpr UINT_PTR kProgressTimerId = 1;

// Registers `className` (result not examined), builds the template (a title
// or name too long for its 50 units is shortened to whole characters) and
// runs the window modally, without owner, over `fileSet`, whose items carry
// their open handles and paths. The window ends when every file is written
// (1), when the user cancels a Retry/Cancel box (2; when `unattended`, no box
// is shown and every question is answered Cancel) or when the FileSet
// cannot be attached to it (3); -1 when the template block cannot be
// allocated or the system cannot create the window. The files and handles are
// left as they are; the template block is freed. Shows the progress on
// gTaskbarProgress too (ui/taskbar_progress.h), when there is one.
int32_t RunProgressDialog(FileSet* fileSet, const char* className, const char* title, const char* fontFace,
                          uint32_t unattended = 0);

// The window's dialog procedure. WM_INITDIALOG (lParam: the FileSet) sets the
// window up, WM_TIMER runs one tick, WM_PAINT paints nothing; it returns 0
// for every message, so commands (Escape, Enter) and the close command do
// nothing.
INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

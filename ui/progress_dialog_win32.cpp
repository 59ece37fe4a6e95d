#include "ui/progress_dialog_win32.h"

#include <commctrl.h>

#include "base/platform.h"
#include "base/win32_calls.h"
#include "resources/resource_ids.h"
#include "ui/dialog_template.h"
#include "ui/progress_tick.h"
#include "ui/taskbar_progress.h"

namespace {

// CS_DBLCLKS | CS_NOCLOSE | CS_SAVEBITS: the window cannot be closed.
constexpr UINT kProgressClassStyle = 0x0A08;
constexpr char kProgressBarClass[] = "msctls_progress32";
constexpr int kCaptionSize = 256;
constexpr UINT kRetryCancelQuestion = MB_RETRYCANCEL | MB_ICONQUESTION;  // 0x25

// Whether the window now running may ask anything. The window is modal and
// the launcher has one thread, so one window at a time sets it.
uint32_t gUnattended = 0;

FileSet* AttachedFileSet(HWND window) {
  return reinterpret_cast<FileSet*>(gWin32.GetWindowLongPtrA(window, GWLP_USERDATA));
}

// Carries `decision` out until the window has ended or its timer runs again.
// A box's answer and a timer that cannot start lead to new decisions.
void CarryOut(HWND window, FileSet* set, ProgressDecision* decision) {
  for (;;) {
    switch (decision->step) {
      case ProgressStep::End:
        gWin32.EndDialog(window, decision->result);
        return;
      case ProgressStep::Rearm:
        set->timerId = gWin32.SetTimer(window, kProgressTimerId, 0, nullptr);
        if (set->timerId) return;
        DecideTimerFailure(platform::LastError(), decision);
        break;
      case ProgressStep::Ask: {
        if (gUnattended) {
          DecideBoxAnswer(kBoxAnswerCancel, decision);
          break;
        }
        char caption[kCaptionSize] = "";
        gWin32.GetWindowTextA(window, caption, kCaptionSize);
        DecideBoxAnswer(gWin32.MessageBoxA(window, decision->text, caption, kRetryCancelQuestion), decision);
        break;
      }
    }
  }
}

void SetIcon(HWND window, HINSTANCE module, WPARAM which, int size) {
  HANDLE icon = gWin32.LoadImageA(module, kAppIconName, IMAGE_ICON, size, size, LR_DEFAULTCOLOR);
  gWin32.SendMessageA(window, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
}

void SetUpWindow(HWND window, FileSet* set) {
  // SetWindowLongPtrA answers the previous value, 0 here: only a last error
  // tells a failure from success.
  platform::SetLastErrorCode(0);
  if (gWin32.SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(set)) == 0 &&
      platform::LastError() != 0) {
    gWin32.EndDialog(window, kProgressNotAttached);
    return;
  }

  HINSTANCE module = gWin32.GetModuleHandleA(nullptr);
  const LRESULT font = gWin32.SendMessageA(window, WM_GETFONT, 0, 0);
  RECT bar = {5, 14, 170, 12};  // x, y, width, height in dialog units
  gWin32.MapDialogRect(window, &bar);
  HWND barWindow = gWin32.CreateWindowExA(0, kProgressBarClass, "", WS_CHILD | WS_VISIBLE, bar.left, bar.top,
                                          bar.right, bar.bottom, window,
                                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressBarId)), module,
                                          nullptr);
  gWin32.SendMessageA(barWindow, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
  SetIcon(window, module, ICON_BIG, 32);
  SetIcon(window, module, ICON_SMALL, 16);
  gWin32.SendDlgItemMessageA(window, kProgressBarId, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  gWin32.SendDlgItemMessageA(window, kProgressBarId, PBM_SETPOS, 0, 0);

  SetTaskbarProgressWindow(gTaskbarProgress, window);
  SetTaskbarProgressState(gTaskbarProgress, 1);
  SetTaskbarProgressTotal(gTaskbarProgress, 100);
  SetTaskbarProgressCompleted(gTaskbarProgress, 0);

  ProgressDecision decision;
  decision.step = ProgressStep::Rearm;
  CarryOut(window, set, &decision);
}

void RunTick(HWND window) {
  FileSet* set = AttachedFileSet(window);
  if (!set) return;
  // Stopped while the step runs and while a box is open, so steps never overlap.
  gWin32.KillTimer(window, set->timerId);
  ProgressDecision decision;
  DecideProgressTick(set, &decision);
  gWin32.SendDlgItemMessageA(window, kProgressBarId, PBM_SETPOS, static_cast<WPARAM>(decision.percentage), 0);
  SetTaskbarProgressCompleted(gTaskbarProgress, static_cast<uint64_t>(decision.percentage));
  CarryOut(window, set, &decision);
}

}  // namespace

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetUpWindow(window, reinterpret_cast<FileSet*>(lParam));
      break;
    case WM_TIMER:
      RunTick(window);
      break;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      gWin32.BeginPaint(window, &paint);
      gWin32.EndPaint(window, &paint);
      break;
    }
    default:
      break;
  }
  return 0;
}

int32_t RunProgressDialog(FileSet* fileSet, const char* className, const char* title, const char* fontFace,
                          uint32_t unattended) {
  gUnattended = unattended;
  HINSTANCE module = gWin32.GetModuleHandleA(nullptr);
  WNDCLASSA windowClass;
  ZeroMemory(&windowClass, sizeof windowClass);
  windowClass.style = kProgressClassStyle;
  // The system's own dialog procedure runs the window; it is handed to the
  // class, not called from here, so it is no entry of the Win32 table.
  windowClass.lpfnWndProc = DefDlgProcA;
  windowClass.cbWndExtra = DLGWINDOWEXTRA;
  windowClass.hInstance = module;
  windowClass.hCursor = gWin32.LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = className;
  gWin32.RegisterClassA(&windowClass);  // already registered by an earlier run is fine

  const DialogTemplateTexts texts = MeasureDialogTemplate(className, title, fontFace);
  const uint32_t size = DialogTemplateSize(texts);
  HGLOBAL block = gWin32.GlobalAlloc(GPTR, size);
  if (!block) return kProgressNotShown;
  auto* bytes = static_cast<uint8_t*>(gWin32.GlobalLock(block));
  INT_PTR result = kProgressNotShown;
  if (bytes) {
    WriteDialogTemplate(bytes, size, texts);
    result = gWin32.DialogBoxIndirectParamA(module, reinterpret_cast<LPCDLGTEMPLATEA>(bytes), nullptr,
                                            ProgressDialogProc, reinterpret_cast<LPARAM>(fileSet));
    gWin32.GlobalUnlock(block);
  }
  gWin32.GlobalFree(block);
  return static_cast<int32_t>(result);
}

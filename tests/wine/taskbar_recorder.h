// A stand-in for the system's taskbar list object: a real COM object (the
// ITaskbarList3 layout, STDMETHODCALLTYPE methods) that records every method
// called on it, and a CoCreateInstance for the Win32 table that hands it out.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <string>
#include <vector>

struct RecordingTaskbarList : ITaskbarList3 {
  std::vector<std::string> calls;  // "SetProgressValue <completed> <total>", "Release", ...
  std::vector<HWND> windows;       // the window of each call that takes one
  ULONG references = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE HrInit() override;
  HRESULT STDMETHODCALLTYPE AddTab(HWND window) override;
  HRESULT STDMETHODCALLTYPE DeleteTab(HWND window) override;
  HRESULT STDMETHODCALLTYPE ActivateTab(HWND window) override;
  HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND window) override;
  HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND window, WINBOOL fullscreen) override;
  HRESULT STDMETHODCALLTYPE SetProgressValue(HWND window, ULONGLONG completed, ULONGLONG total) override;
  HRESULT STDMETHODCALLTYPE SetProgressState(HWND window, TBPFLAG flags) override;
  HRESULT STDMETHODCALLTYPE RegisterTab(HWND tab, HWND mdi) override;
  HRESULT STDMETHODCALLTYPE UnregisterTab(HWND tab) override;
  HRESULT STDMETHODCALLTYPE SetTabOrder(HWND tab, HWND before) override;
  HRESULT STDMETHODCALLTYPE SetTabActive(HWND tab, HWND mdi, DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND window, UINT count, LPTHUMBBUTTON buttons) override;
  HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND window, UINT count, LPTHUMBBUTTON buttons) override;
  HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND window, HIMAGELIST images) override;
  HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND window, HICON icon, LPCWSTR description) override;
  HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND window, LPCWSTR tip) override;
  HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND window, RECT* clip) override;

 private:
  HRESULT Record(const std::string& call, HWND window);
};

// What the stand-in CoCreateInstance was asked for.
struct TaskbarCreation {
  uint32_t calls = 0;
  CLSID classId{};
  bool outerWasNull = false;
  DWORD context = 0;
  IID interfaceId{};
};

// Puts the stand-in creation into the Win32 table: every CoCreateInstance
// then records its arguments in `creation` and hands out `list`.
void InstallRecordingTaskbarList(RecordingTaskbarList* list, TaskbarCreation* creation);

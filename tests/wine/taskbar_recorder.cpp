#include "tests/wine/taskbar_recorder.h"

#include "base/win32_calls.h"

namespace {

RecordingTaskbarList* installedList = nullptr;
TaskbarCreation* installedCreation = nullptr;

HRESULT WINAPI RecordingCoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID interfaceId,
                                         LPVOID* object) {
  ++installedCreation->calls;
  installedCreation->classId = classId;
  installedCreation->outerWasNull = outer == nullptr;
  installedCreation->context = context;
  installedCreation->interfaceId = interfaceId;
  ITaskbarList3* list = installedList;
  *object = list;
  return S_OK;
}

}  // namespace

void InstallRecordingTaskbarList(RecordingTaskbarList* list, TaskbarCreation* creation) {
  installedList = list;
  installedCreation = creation;
  gWin32.CoCreateInstance = RecordingCoCreateInstance;
}

HRESULT RecordingTaskbarList::Record(const std::string& call, HWND window) {
  calls.push_back(call);
  windows.push_back(window);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordingTaskbarList::QueryInterface(REFIID, void** object) {
  *object = nullptr;
  calls.push_back("QueryInterface");
  return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE RecordingTaskbarList::AddRef() {
  calls.push_back("AddRef");
  return ++references;
}
ULONG STDMETHODCALLTYPE RecordingTaskbarList::Release() {
  calls.push_back("Release");
  return --references;
}
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::HrInit() { return Record("HrInit", nullptr); }
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::AddTab(HWND window) { return Record("AddTab", window); }
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::DeleteTab(HWND window) { return Record("DeleteTab", window); }
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::ActivateTab(HWND window) { return Record("ActivateTab", window); }
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::SetActiveAlt(HWND window) { return Record("SetActiveAlt", window); }
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::MarkFullscreenWindow(HWND window, WINBOOL) {
  return Record("MarkFullscreenWindow", window);
}
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::SetProgressValue(HWND window, ULONGLONG completed,
                                                                 ULONGLONG total) {
  return Record("SetProgressValue " + std::to_string(completed) + " " + std::to_string(total), window);
}
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::SetProgressState(HWND window, TBPFLAG flags) {
  return Record("SetProgressState " + std::to_string(static_cast<int>(flags)), window);
}
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::RegisterTab(HWND tab, HWND) { return Record("RegisterTab", tab); }
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::UnregisterTab(HWND tab) { return Record("UnregisterTab", tab); }
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::SetTabOrder(HWND tab, HWND) { return Record("SetTabOrder", tab); }
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::SetTabActive(HWND tab, HWND, DWORD) {
  return Record("SetTabActive", tab);
}
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::ThumbBarAddButtons(HWND window, UINT, LPTHUMBBUTTON) {
  return Record("ThumbBarAddButtons", window);
}
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::ThumbBarUpdateButtons(HWND window, UINT, LPTHUMBBUTTON) {
  return Record("ThumbBarUpdateButtons", window);
}
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::ThumbBarSetImageList(HWND window, HIMAGELIST) {
  return Record("ThumbBarSetImageList", window);
}
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::SetOverlayIcon(HWND window, HICON, LPCWSTR) {
  return Record("SetOverlayIcon", window);
}
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::SetThumbnailTooltip(HWND window, LPCWSTR) {
  return Record("SetThumbnailTooltip", window);
}
HRESULT STDMETHODCALLTYPE RecordingTaskbarList::SetThumbnailClip(HWND window, RECT*) {
  return Record("SetThumbnailClip", window);
}

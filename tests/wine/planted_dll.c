/* A DLL that someone plants next to a downloaded setup.exe under the name of
 * a system DLL (crypt32.dll). When any process loads it, it leaves the file
 * "planted-dll-loaded" in its own folder, so a test can tell that the
 * launcher took it instead of the system's copy. It exports the CryptoAPI
 * functions the launcher uses, with their stack sizes, so that a load-time
 * import of it would resolve (and the loader would run this DllMain) on
 * Windows too; each of them only fails. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

static void LeaveMarker(HINSTANCE self) {
  char path[MAX_PATH + 32];
  DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  while (length > 0 && path[length - 1] != '\\') --length;
  lstrcpyA(path + length, "planted-dll-loaded");
  HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) LeaveMarker(self);
  return TRUE;
}

static BOOL Refuse(void) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

__declspec(dllexport) void* WINAPI CryptMsgOpenToDecode(DWORD a, DWORD b, DWORD c, void* d, void* e, void* f) {
  (void)a, (void)b, (void)c, (void)d, (void)e, (void)f;
  Refuse();
  return NULL;
}
__declspec(dllexport) BOOL WINAPI CryptMsgUpdate(void* a, const BYTE* b, DWORD c, BOOL d) {
  (void)a, (void)b, (void)c, (void)d;
  return Refuse();
}
__declspec(dllexport) BOOL WINAPI CryptMsgGetParam(void* a, DWORD b, DWORD c, void* d, DWORD* e) {
  (void)a, (void)b, (void)c, (void)d, (void)e;
  return Refuse();
}
__declspec(dllexport) BOOL WINAPI CryptMsgClose(void* a) {
  (void)a;
  return Refuse();
}
__declspec(dllexport) const void* WINAPI CertCreateCertificateContext(DWORD a, const BYTE* b, DWORD c) {
  (void)a, (void)b, (void)c;
  Refuse();
  return NULL;
}
__declspec(dllexport) BOOL WINAPI CertFreeCertificateContext(const void* a) {
  (void)a;
  return Refuse();
}

// The launcher's entry point. The run itself lives in the libraries; this
// file only hands the process to it.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }

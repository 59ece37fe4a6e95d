/* The demo product's program: says which build it is and where it was
   installed. */
#include <stdio.h>
#include <windows.h>

int main(void) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(NULL, path, sizeof path);
  if (n >= sizeof path) n = 0;
  printf("Hello from the msilaunch demo (%d-bit), installed as %.*s\n", (int)(sizeof(void*) * 8), (int)n, path);
  return 0;
}

/* A Windows host that loads the DLL at run time and takes WAVDistortion by ordinal. */
#include <stdio.h>
#include <windows.h>

#include <VelorikWAVDistortion.h>

typedef int32_t(VWD_CALL* Distortion)(const wchar_t*, const wchar_t*, int32_t);

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    HMODULE dll = LoadLibraryW(L"VelorikWAVDistortion.dll");
    Distortion distort = dll ? (Distortion)(void*)GetProcAddress(dll, MAKEINTRESOURCEA(1)) : NULL;
    if (distort == NULL) return 3;
    const int32_t status = distort(argv[1], argv[2], 100);
    printf("status %d\n", (int)status);
    return status == StatusSuccess ? 0 : 1;
}

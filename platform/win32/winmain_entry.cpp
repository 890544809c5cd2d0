// Windows entry of OvUpdate.exe: a GUI-subsystem program without a window. The C runtime
// hands over the command line without the program name (built with -municode).
#include <windows.h>

#include "app/entry.h"
#include "platform/win32/wide.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR lpCmdLine, int) {
    return agent::wWinMain(plat::win32::fromWide(lpCmdLine));
}

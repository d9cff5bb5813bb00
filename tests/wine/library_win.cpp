// A library that does nothing, for the Wine stage to load into a running
// program as an installation's library is loaded.

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

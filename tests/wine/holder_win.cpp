// Holds a file open without delete or write sharing, so that it can be
// neither removed, replaced nor renamed; with --load, loads it as a library
// instead, so that it can be renamed only. Creates "<file>.held" once the
// file is held, and lets go when "<file>.release" appears (or after two
// minutes at the latest).
// Usage: holder [--load] FILE

#include <windows.h>

#include <string>

int wmain(int argc, wchar_t *argv[])
{
    const bool load = argc == 3 && std::wstring(argv[1]) == L"--load";
    if (argc != 2 && !load)
        return 2;
    const std::wstring path = argv[argc - 1];
    HMODULE library = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (load)
        library = LoadLibraryW(path.c_str());
    else
        file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!library && file == INVALID_HANDLE_VALUE)
        return 1;
    const HANDLE held = CreateFileW((path + L".held").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE)
        return 1;
    CloseHandle(held);
    const std::wstring release = path + L".release";
    for (int waited = 0; waited < 120000; waited += 50) {
        if (GetFileAttributesW(release.c_str()) != INVALID_FILE_ATTRIBUTES)
            break;
        Sleep(50);
    }
    if (library)
        FreeLibrary(library);
    else
        CloseHandle(file);
    return 0;
}

// Holds a file open the way a running program holds its libraries: without
// delete or write sharing, so it can be neither removed nor replaced. Creates
// "<file>.held" once the file is open, and lets go when "<file>.release"
// appears (or after two minutes at the latest).
// Usage: holder FILE

#include <windows.h>

#include <string>

int wmain(int argc, wchar_t *argv[])
{
    if (argc != 2)
        return 2;
    const std::wstring path = argv[1];
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
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
    CloseHandle(file);
    return 0;
}

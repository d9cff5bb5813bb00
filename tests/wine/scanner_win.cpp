// Stands in for an on-access scanner: watches a directory and opens each new
// staged file (".*.orvane-new-*") once its writer has closed it, without any
// sharing, for 0.8 s, one file after the other, as scanners, indexers and
// backup clients do. Creates READY once it watches, and ends when STOP
// appears (or after two minutes at the latest), writing the number of files
// it held into STOP + ".count".
// Usage: scanner DIR READY STOP

#include <windows.h>

#include <set>
#include <string>

namespace {

bool exists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool create(const std::wstring &path, const std::string &content)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool done =
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) != 0;
    CloseHandle(file);
    return done;
}

} // namespace

int wmain(int argc, wchar_t *argv[])
{
    if (argc != 4)
        return 2;
    const std::wstring directory = argv[1];
    const std::wstring stop = argv[3];
    std::set<std::wstring> done;
    int held = 0;
    if (!create(argv[2], ""))
        return 1;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 120000 && !exists(stop);) {
        WIN32_FIND_DATAW found = {};
        const HANDLE search = FindFirstFileW((directory + L"\\.*.orvane-new-*").c_str(), &found);
        std::wstring next;
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (done.count(found.cFileName) == 0) {
                    next = found.cFileName;
                    break;
                }
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        if (next.empty()) {
            Sleep(5);
            continue;
        }
        // Fails with a sharing violation while the writer still has it open.
        const HANDLE file = CreateFileW((directory + L"\\" + next).c_str(), GENERIC_READ, 0,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            done.insert(next);
            ++held;
            Sleep(800);
            CloseHandle(file);
        } else if (GetLastError() != ERROR_SHARING_VIOLATION) {
            done.insert(next);
        } else {
            Sleep(1);
        }
    }
    return create(stop + L".count", std::to_string(held)) ? 0 : 1;
}

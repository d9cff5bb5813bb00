// Windows test driver: the two renames that replace a running program, when
// the second fails (here the new version is missing). The old file must get
// its name, its content and its read-only attribute back, and no aside file
// may stay. Prints what differs; exit code 0 when nothing does.
// Usage: renameback_win DIRECTORY

#include "platform/filereplace_win_p.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string content(const std::wstring &path)
{
    std::string text;
    if (std::FILE *file = _wfopen(path.c_str(), L"rb")) {
        for (int c; (c = std::fgetc(file)) != EOF;)
            text += char(c);
        std::fclose(file);
    }
    return text;
}

int failures = 0;

void check(bool good, const char *what)
{
    std::printf("%s: %s\n", good ? "ok" : "FAIL", what);
    failures += good ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t *argv[])
{
    if (argc != 2)
        return 2;
    const std::wstring directory = argv[1];
    const std::wstring target = directory + L"\\lib.dll";
    const std::wstring aside = directory + L"\\.lib.dll.orvane-old-Test01";
    std::FILE *file = _wfopen(target.c_str(), L"wb");
    if (!file || std::fputs("old", file) < 0 || std::fclose(file) != 0 ||
        !SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY))
        return 2;

    unsigned long error = 0;
    const bool replaced = Platform::replaceAsideWin((directory + L"\\missing").c_str(),
                                                    target.c_str(), aside.c_str(), &error);
    check(!replaced, "the replacement fails");
    check(error == ERROR_FILE_NOT_FOUND, "with the second step's reason");
    check(content(target) == "old", "the old file has its name back");
    const DWORD attributes = GetFileAttributesW(target.c_str());
    check(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0,
          "and its read-only attribute");
    check(GetFileAttributesW(aside.c_str()) == INVALID_FILE_ATTRIBUTES, "no aside file stays");
    return failures == 0 ? 0 : 1;
}

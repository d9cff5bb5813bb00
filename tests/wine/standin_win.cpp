// The Windows stand-in for the programs Orvane starts (the installer, a
// restarted program). Free of Qt, so it stays tiny. It records what it
// received in "<own name>-received.json" in its current directory: the
// arguments as the C runtime split them, the raw command line, the current
// directory, PATH, LD_LIBRARY_PATH and QT_QPA_PLATFORM, the names of the
// variables that begin with "ORVANE_" and the id of the process that started
// it. With STANDIN_LINGER_MS
// set it then stays alive that long and leaves "<own name>-finished" behind,
// which shows that it outlived the program that started it.

#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

std::string utf8(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(std::size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &bytes[0], size, nullptr,
                        nullptr);
    return bytes;
}

std::string jsonString(const std::wstring &text)
{
    std::string out = "\"";
    for (const char c : utf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(byte));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + '"';
}

std::string variable(const wchar_t *name)
{
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return "null";
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, &value[0], size));
    return jsonString(value);
}

std::string orvaneVariables()
{
    std::string names = "[";
    const wchar_t *block = GetEnvironmentStringsW();
    for (const wchar_t *variable = block; *variable; variable += std::wcslen(variable) + 1) {
        const std::wstring text = variable;
        if (_wcsnicmp(text.c_str(), L"ORVANE_", 7) == 0)
            names += (names.size() > 1 ? ", " : "") + jsonString(text.substr(0, text.find(L'=')));
    }
    FreeEnvironmentStringsW(const_cast<wchar_t *>(block));
    return names + "]";
}

DWORD starterId()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    DWORD starter = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId())
            starter = entry.th32ParentProcessID;
    }
    CloseHandle(snapshot);
    return starter;
}

std::wstring currentDirectory()
{
    std::wstring path(GetCurrentDirectoryW(0, nullptr), L'\0');
    path.resize(GetCurrentDirectoryW(DWORD(path.size()), &path[0]));
    return path;
}

bool writeWhole(const std::wstring &name, const std::string &content)
{
    const std::wstring temporary = name + L".tmp";
    std::FILE *file = _wfopen(temporary.c_str(), L"wb");
    if (!file)
        return false;
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    if (std::fclose(file) != 0 || !written)
        return false;
    return MoveFileExW(temporary.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

} // namespace

int wmain(int argc, wchar_t *argv[])
{
    std::string arguments = "[";
    for (int i = 1; i < argc; ++i)
        arguments += (i > 1 ? ", " : "") + jsonString(argv[i]);
    arguments += "]";
    const std::string record = "{\n  \"arguments\": " + arguments +
                               ",\n  \"commandLine\": " + jsonString(GetCommandLineW()) +
                               ",\n  \"cwd\": " + jsonString(currentDirectory()) +
                               ",\n  \"PATH\": " + variable(L"PATH") +
                               ",\n  \"LD_LIBRARY_PATH\": " + variable(L"LD_LIBRARY_PATH") +
                               ",\n  \"QT_QPA_PLATFORM\": " + variable(L"QT_QPA_PLATFORM") +
                               ",\n  \"orvaneVariables\": " + orvaneVariables() +
                               ",\n  \"starter\": " + std::to_string(starterId()) + "\n}\n";

    std::wstring name = argv[0];
    name.erase(0, name.find_last_of(L"\\/") + 1);
    const std::size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos)
        name.erase(dot);
    if (!writeWhole(name + L"-received.json", record))
        return 1;

    const wchar_t *linger = _wgetenv(L"STANDIN_LINGER_MS");
    if (linger && *linger) {
        Sleep(DWORD(std::wcstoul(linger, nullptr, 10)));
        if (!writeWhole(name + L"-finished", "finished\n"))
            return 1;
    }
    return 0;
}

// The child that process_fixture_test starts: each mode is one behaviour of a program under test.
//   print <bytes>               <bytes> of a pattern on stdout and on stderr, then "done" on stdout
//   lines                       "starting", 300 ms later "ready", then waits to be killed
//   exit <code>                 "bye" without a line end, exit code <code>
//   hang                        waits to be killed
//   echo                        copies stdin lines to stdout as "echo: <line>" until end of input
//   message-box <type> <caption> <text>
//                               MessageBoxW with that type; the exit code is its result
//   grandchild                  starts "hang" sharing its stdout, prints "grandchild <id>", exits
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

std::string pattern(std::size_t bytes) {
    std::string text(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) text[i] = static_cast<char>('a' + i % 26);
    return text;
}

int grandchild() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" hang";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return 1;
    std::cout << "grandchild " << process.dwProcessId << std::endl;
    return 0;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 2) return 2;
    const std::wstring mode = argv[1];
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);

    if (mode == L"print" && argc == 3) {
        const std::string text = pattern(std::stoul(argv[2]));
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fputs("done\n", stdout);
        return 0;
    }
    if (mode == L"lines") {
        std::cout << "starting" << std::endl;
        Sleep(300);
        std::cout << "ready" << std::endl;
        Sleep(INFINITE);
    }
    if (mode == L"exit" && argc == 3) {
        std::cout << "bye" << std::flush;
        return std::stoi(argv[2]);
    }
    if (mode == L"hang") Sleep(INFINITE);
    if (mode == L"echo") {
        for (std::string line; std::getline(std::cin, line);) std::cout << "echo: " << line << std::endl;
        return 0;
    }
    if (mode == L"message-box" && argc == 5) return MessageBoxW(nullptr, argv[4], argv[3], std::stoul(argv[2]));
    if (mode == L"grandchild") return grandchild();
    return 2;
}

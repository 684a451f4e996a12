#include "app/message_box.h"

#include "com/string_convert.h"

#include <atomic>

namespace app {
namespace {

int SystemMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags) {
    // Also to the standard error where there is one (a console or a redirected log), so that a box
    // nobody sees on a machine without a desktop still says why the server waits.
    const HANDLE log = GetStdHandle(STD_ERROR_HANDLE);
    if (log != nullptr && log != INVALID_HANDLE_VALUE) {
        const std::string line =
            "message box: " + korvex::com::toUtf8(caption ? caption : L"") + ": " + korvex::com::toUtf8(text) + "\r\n";
        DWORD written = 0;
        WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    return MessageBoxW(owner, text, caption, flags);
}

std::atomic<MessageBoxFunction> g_messageBox{&SystemMessageBox};

}  // namespace

int ShowMessageBox(HWND owner, const std::wstring& text, const wchar_t* caption, UINT flags) {
    return g_messageBox.load()(owner, text.c_str(), caption, flags);
}

MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function) {
    return g_messageBox.exchange(function ? function : &SystemMessageBox);
}

}  // namespace app

#include "app/message_box.h"

#include <atomic>

namespace app {
namespace {

int SystemMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags) {
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

// Every message box of the host goes through one function, so that tests running the host's code
// in their own process can answer the boxes instead of blocking on them.
#pragma once

#include <windows.h>

#include <string>

namespace app {

using MessageBoxFunction = int (*)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags);

// Shows a message box (MessageBoxW unless replaced) and returns the button chosen.
int ShowMessageBox(HWND owner, const std::wstring& text, const wchar_t* caption, UINT flags);

// Replaces the message box for the whole process; nullptr restores MessageBoxW. Returns the
// previous function.
MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function);

}  // namespace app

#include "app/tray_icon.h"

#include <algorithm>

namespace app {
namespace {

void CopyTip(NOTIFYICONDATAW& data, const std::wstring& tip) {
    const std::size_t length = std::min(tip.size(), std::size(data.szTip) - 1);
    std::copy_n(tip.data(), length, data.szTip);
    data.szTip[length] = L'\0';
}

}  // namespace

bool TrayIcon::Add(HWND window, UINT callbackMessage, HICON icon, const std::wstring& tip) {
    data_ = {};
    data_.cbSize = sizeof data_;
    data_.hWnd = window;
    data_.uID = kIconId;
    data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data_.uCallbackMessage = callbackMessage;
    data_.hIcon = icon;
    CopyTip(data_, tip);
    // Remembered even when the shell refuses: the icon is then taken away at the end all the same.
    added_ = true;
    const bool shown = Shell_NotifyIconW(NIM_ADD, &data_) != FALSE;
    data_.hIcon = nullptr;  // the shell keeps its own copy; the caller destroys the handle
    return shown;
}

bool TrayIcon::SetTip(const std::wstring& tip) {
    if (!added_) return false;
    data_.uFlags = NIF_TIP;
    CopyTip(data_, tip);
    return Shell_NotifyIconW(NIM_MODIFY, &data_) != FALSE;
}

void TrayIcon::Remove() {
    if (!added_) return;
    added_ = false;
    Shell_NotifyIconW(NIM_DELETE, &data_);
}

}  // namespace app

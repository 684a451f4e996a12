#include "app/about_dlg.h"

#include "app/resource.h"
#include "rtdb/rt_library.h"

#include <string>

namespace {

// The record's texts are in the ANSI code page of the SCADA's machine, which is this machine.
std::wstring WideFromAnsi(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

}  // namespace

INT_PTR CAboutDlg::DoModal(HWND owner) {
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), owner,
                           &CAboutDlg::DialogProc, reinterpret_cast<LPARAM>(this));
}

HWND CAboutDlg::CreateModeless(HWND owner) {
    return CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), owner,
                              &CAboutDlg::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CAboutDlg::FillTexts(HWND dialog) const {
    if (systemInfo_ == nullptr) {
        SetDlgItemTextW(dialog, IDC_WEB_ADDRESS, kMakerWebAddress);
        return;
    }
    const struct {
        int control;
        std::size_t offset;
    } fields[] = {
        {IDC_PRODUCT_LABEL, rt::sysinfo::kProductLabel},
        {IDC_RIGHTS_NOTICE, rt::sysinfo::kRightsNotice},
        {IDC_COMPANY_NAME, rt::sysinfo::kCompanyName},
        {IDC_WEB_ADDRESS, rt::sysinfo::kWebAddress},
    };
    for (const auto& field : fields) {
        SetDlgItemTextW(dialog, field.control, WideFromAnsi(rtdb::SystemInfoText(*systemInfo_, field.offset)).c_str());
    }
}

INT_PTR CALLBACK CAboutDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        reinterpret_cast<const CAboutDlg*>(lParam)->FillTexts(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

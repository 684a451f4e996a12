// The About box (dialog 100): the SCADA project's product label, rights notice, company name and
// web address from the system-information record, or only our web address without one.
#pragma once

#include "rtdb/data_access.h"

#include <windows.h>

class CAboutDlg {
public:
    static constexpr const wchar_t* kMakerWebAddress = L"www.korvex-automation.example";

    // `systemInfo` may be null; it must outlive the dialog.
    explicit CAboutDlg(const rtdb::SystemInfo* systemInfo) : systemInfo_(systemInfo) {}

    // Runs the box modally; returns IDOK or IDCANCEL.
    INT_PTR DoModal(HWND owner);
    // Creates the box without running it (tests read its controls); destroy it with DestroyWindow.
    HWND CreateModeless(HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void FillTexts(HWND dialog) const;

    const rtdb::SystemInfo* systemInfo_;
};

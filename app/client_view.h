// The main window's client area: an empty child dialog painted white.
#pragma once

#include <windows.h>

class COrvicOPCServerView {
public:
    // Creates the view as a child of `parent`; null on failure.
    HWND Create(HWND parent);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
};

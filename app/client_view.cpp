#include "app/client_view.h"

#include "app/resource.h"

HWND COrvicOPCServerView::Create(HWND parent) {
    return CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CLIENT_VIEW), parent,
                              &COrvicOPCServerView::DialogProc, 0);
}

INT_PTR CALLBACK COrvicOPCServerView::DialogProc(HWND, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_CTLCOLORDLG:
        return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    default:
        return FALSE;
    }
}

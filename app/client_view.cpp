#include "app/client_view.h"

#include "app/resource.h"
#include "app/string_resources.h"

#include <commctrl.h>

#include <cstdio>
#include <initializer_list>
#include <vector>

namespace {

struct Column {
    UINT title;
    int width;
};

constexpr Column kClientColumns[] = {
    {IDS_VIEW_COL_CLIENT, 140},      {IDS_VIEW_COL_CONNECTED, 125}, {IDS_VIEW_COL_GROUPS, 45},
    {IDS_VIEW_COL_ACTIVE_ITEMS, 60}, {IDS_VIEW_COL_CHANGES, 90},    {IDS_VIEW_COL_LAST_CALLBACK, 75},
    {IDS_VIEW_COL_RESULT, 80},       {IDS_VIEW_COL_DELIVERY, 100},
};
constexpr Column kGroupColumns[] = {
    {IDS_VIEW_COL_GROUP, 120},   {IDS_VIEW_COL_ACTIVE, 45}, {IDS_VIEW_COL_UPDATE_RATE, 90},
    {IDS_VIEW_COL_DEADBAND, 80}, {IDS_VIEW_COL_ITEMS, 45},  {IDS_VIEW_COL_KEEP_ALIVE, 90},
    {IDS_VIEW_COL_QUEUED, 90},
};

using Row = std::vector<std::wstring>;

template <std::size_t N>
HWND MakeList(HWND dialog, int id, const Column (&columns)[N]) {
    const HWND list =
        CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0, 0, 0, 0,
                        dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (list == nullptr) return nullptr;
    SendMessageW(list, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (std::size_t i = 0; i < N; ++i) {
        std::wstring title = app::LoadResourceString(columns[i].title);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = title.data();
        column.cx = columns[i].width;
        column.iSubItem = static_cast<int>(i);
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    return list;
}

// Rewrites the list in place, one row per entry, each row's parameter from `params`: no flicker
// from emptying it first.
void SetRows(HWND list, const std::vector<Row>& rows, const std::vector<LPARAM>& params) {
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    while (count > static_cast<int>(rows.size())) SendMessageW(list, LVM_DELETEITEM, --count, 0);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            LVITEMW item{};
            item.iItem = static_cast<int>(r);
            item.iSubItem = static_cast<int>(c);
            item.pszText = const_cast<LPWSTR>(rows[r][c].c_str());
            if (c == 0) {
                item.mask = LVIF_TEXT | LVIF_PARAM;
                item.lParam = params[r];
                SendMessageW(list, static_cast<int>(r) < count ? LVM_SETITEMW : LVM_INSERTITEMW, 0,
                             reinterpret_cast<LPARAM>(&item));
            } else {
                SendMessageW(list, LVM_SETITEMTEXTW, r, reinterpret_cast<LPARAM>(&item));
            }
        }
    }
}

// "%1", "%2"... of a text from the resources replaced by `values`; nothing else of it is read.
std::wstring Fill(std::wstring pattern, std::initializer_list<std::wstring> values) {
    int n = 1;
    for (const std::wstring& value : values) {
        const std::wstring mark = L"%" + std::to_wstring(n++);
        if (const std::size_t at = pattern.find(mark); at != std::wstring::npos)
            pattern.replace(at, mark.size(), value);
    }
    return pattern;
}

std::wstring LocalTime(const FILETIME& utc, bool withDate) {
    FILETIME local;
    SYSTEMTIME t;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &t)) return L"";
    wchar_t text[32];
    if (withDate) {
        std::swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                      t.wSecond);
    } else {
        std::swprintf(text, 32, L"%02u:%02u:%02u", t.wHour, t.wMinute, t.wSecond);
    }
    return text;
}

std::wstring ResultText(HRESULT hr) {
    if (hr == S_OK) return L"S_OK";
    if (hr == S_FALSE) return L"S_FALSE";
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::wstring DeliveryText(const server::ClientDelivery::Activity& delivery) {
    switch (server::StateOf(delivery)) {
    case server::DeliveryState::Stalled:
        return app::FormatResourceString(
            IDS_VIEW_STALLED, std::chrono::duration_cast<std::chrono::seconds>(delivery.callRunning).count());
    case server::DeliveryState::Unreachable: return app::LoadResourceString(IDS_VIEW_UNREACHABLE);
    case server::DeliveryState::Sending: return app::LoadResourceString(IDS_VIEW_SENDING);
    case server::DeliveryState::Idle: break;
    }
    return app::LoadResourceString(IDS_VIEW_IDLE);
}

std::wstring Milliseconds(std::chrono::microseconds t) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%.2f", static_cast<double>(t.count()) / 1000.0);
    return text;
}

}  // namespace

HWND COrvicOPCServerView::Create(HWND parent, const ServerContext& context, HWND runtimeWindow) {
    context_ = &context;
    runtimeWindow_ = runtimeWindow;
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    return CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CLIENT_VIEW), parent,
                              &COrvicOPCServerView::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK COrvicOPCServerView::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* view = reinterpret_cast<COrvicOPCServerView*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        view->OnInitDialog(dialog);
        return TRUE;
    }
    auto* view = reinterpret_cast<COrvicOPCServerView*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (view == nullptr) return FALSE;
    switch (message) {
    case WM_SIZE: view->Layout(); return TRUE;
    case WM_TIMER:
        // Hidden, the view costs the server nothing: no snapshot is taken.
        if (wParam == kRefreshTimer && IsWindowVisible(dialog)) view->Refresh();
        return TRUE;
    case WM_NOTIFY: {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if (change->hdr.hwndFrom == view->clients_ && change->hdr.code == LVN_ITEMCHANGED && !view->filling_ &&
            ((change->uNewState ^ change->uOldState) & LVIS_SELECTED) != 0) {
            view->selected_ = (change->uNewState & LVIS_SELECTED) ? static_cast<std::uint64_t>(change->lParam) : 0;
            view->ShowGroups();
        }
        return TRUE;
    }
    case WM_CTLCOLORSTATIC:
        SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
        return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    case WM_CTLCOLORDLG: return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    case WM_DESTROY: KillTimer(dialog, kRefreshTimer); return TRUE;
    default: return FALSE;
    }
}

void COrvicOPCServerView::OnInitDialog(HWND dialog) {
    dialog_ = dialog;
    status_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, 0, 0, 0,
                              dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_VIEW_STATUS)),
                              GetModuleHandleW(nullptr), nullptr);
    if (status_ != nullptr) SendMessageW(status_, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
    clients_ = MakeList(dialog, IDC_VIEW_CLIENTS, kClientColumns);
    groups_ = MakeList(dialog, IDC_VIEW_GROUPS, kGroupColumns);
    Layout();
    SetTimer(dialog, kRefreshTimer, kRefreshPeriodMs, nullptr);
}

void COrvicOPCServerView::Layout() {
    RECT area{};
    GetClientRect(dialog_, &area);
    const int width = area.right;
    const int height = area.bottom;
    const int line = 18;
    const int lists = height > line ? height - line : 0;
    const int clientsHeight = lists * 3 / 5;
    if (status_) MoveWindow(status_, 4, 2, width > 4 ? width - 4 : 0, line - 2, TRUE);
    if (clients_) MoveWindow(clients_, 0, line, width, clientsHeight, TRUE);
    if (groups_) MoveWindow(groups_, 0, line + clientsHeight, width, lists - clientsHeight, TRUE);
}

void COrvicOPCServerView::Refresh() {
    if (context_ == nullptr || dialog_ == nullptr) return;
    shown_ = server::TakeSnapshot(*context_);
    const std::wstring status = StatusText();
    SetWindowTextW(status_, status.c_str());
    ShowClients();
    ShowGroups();
}

void COrvicOPCServerView::ShowClients() {
    std::vector<Row> rows;
    std::vector<LPARAM> params;
    bool selectedIsHere = false;
    for (const server::ClientSnapshot& client : shown_.clients) {
        const server::ClientDelivery::Activity& d = client.delivery;
        rows.push_back({client.name.empty() ? app::LoadResourceString(IDS_VIEW_UNNAMED) : client.name,
                        LocalTime(client.connected, true), std::to_wstring(client.groups.size()),
                        std::to_wstring(client.ActiveItems()), std::to_wstring(d.valuesLastMinute),
                        d.called ? LocalTime(d.lastCallTime, false) : app::LoadResourceString(IDS_VIEW_NO_CALLBACK),
                        d.called ? ResultText(d.lastCallResult) : L"", DeliveryText(d)});
        params.push_back(static_cast<LPARAM>(client.number));
        selectedIsHere = selectedIsHere || client.number == selected_;
    }
    if (!selectedIsHere) selected_ = 0;
    filling_ = true;
    SetRows(clients_, rows, params);
    // The selection follows its client, wherever the client's row went.
    for (std::size_t r = 0; r < params.size(); ++r) {
        LVITEMW state{};
        state.stateMask = LVIS_SELECTED;
        state.state = static_cast<std::uint64_t>(params[r]) == selected_ ? LVIS_SELECTED : 0;
        SendMessageW(clients_, LVM_SETITEMSTATE, r, reinterpret_cast<LPARAM>(&state));
    }
    filling_ = false;
}

void COrvicOPCServerView::ShowGroups() {
    std::vector<Row> rows;
    std::vector<LPARAM> params;
    for (const server::ClientSnapshot& client : shown_.clients) {
        if (client.number != selected_) continue;
        for (const COPCGroup::Summary& group : client.groups) {
            wchar_t deadband[32];
            std::swprintf(deadband, 32, L"%g", static_cast<double>(group.state.percentDeadband));
            rows.push_back({group.state.name, app::LoadResourceString(group.state.active ? IDS_VIEW_YES : IDS_VIEW_NO),
                            std::to_wstring(group.state.updateRate), deadband, std::to_wstring(group.items),
                            std::to_wstring(group.state.keepAliveTime), std::to_wstring(group.queuedRequests)});
            params.push_back(0);
        }
    }
    SetRows(groups_, rows, params);
}

std::wstring COrvicOPCServerView::StatusText() const {
    UINT runtime = IDS_VIEW_RUNTIME_REACHABLE;
    if (runtimeWindow_ == nullptr || !IsWindow(runtimeWindow_)) {
        runtime = IDS_VIEW_RUNTIME_GONE;
    } else if (IsHungAppWindow(runtimeWindow_)) {
        runtime = IDS_VIEW_RUNTIME_HUNG;
    }
    return Fill(app::LoadResourceString(IDS_VIEW_STATUS),
                {app::LoadResourceString(IDS_VIEW_STATE_BASE + static_cast<UINT>(shown_.status)),
                 std::to_wstring(shown_.points), Milliseconds(shown_.tick.last),
                 Milliseconds(shown_.tick.worstLastMinute), app::LoadResourceString(runtime)});
}

// The host's resources as the program loads them: the UTF-8 resource script must arrive as the
// exact UTF-16 texts (a resource compiler that ignores the code page turns them into mojibake),
// the menus must carry their commands in order, and the formatted title and exit question must
// show the count.
#include "app/resource.h"
#include "app/string_resources.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
    std::string out(static_cast<std::size_t>(
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), static_cast<int>(out.size()),
                        nullptr, nullptr);
    return out;
}

TEST(AppResources, StringTableHoldsTheExactTexts) {
    const struct {
        UINT id;
        const wchar_t* text;
    } cases[] = {
        {ID_SERVER_REGISTER, L"注册Korvex OPC Server\n注册"},
        {ID_SERVER_UNREGISTER, L"注销Korvex OPC Server\n注销"},
        {ID_WINDOW_SHOW, L"显示Korvex OPC Server的主窗口"},
        {ID_WINDOW_HIDE, L"隐藏Korvex OPC Server的主窗口"},
        {ID_APP_ABOUT, L"显示程序信息，版本号和版权\n关于"},
        {ID_APP_EXIT, L"退出Korvex OPC Server\n退出"},
        {IDS_ALREADY_RUNNING, L"服务器已经启动"},
        {IDS_CONFIRM_EXIT, L"有[%d]客户端与Korvex OPC Server连接，退出会导致客户端工作失败!\n是否退出?"},
        {IDS_SHUTDOWN_REASON, L"用户强制关闭"},
        {IDS_TITLE_FORMAT, L"KorvexOPCServer - [Client: %d]"},
        {IDS_SCADA_NOT_RUNNING, L"请确定SCADA已经启动!"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(app::LoadResourceString(c.id), c.text)
            << "string " << c.id << ": got \"" << Utf8(app::LoadResourceString(c.id)) << "\"";
    }
}

TEST(AppResources, StringBlockSharedWithTheStatusTextsKeepsBoth) {
    // 62320-62329 are the server's status-code texts, compiled from another resource script into
    // the same block as 62330-62335: one block must not replace the other at link time.
    for (UINT id = 62320; id <= 62329; ++id) {
        EXPECT_FALSE(app::LoadResourceString(id).empty()) << "status text " << id << " lost";
    }
    EXPECT_EQ(app::LoadResourceString(IDS_ALREADY_RUNNING), L"服务器已经启动");
}

TEST(AppResources, StringTableIsChineseSimplified) {
    // String ids are grouped in blocks of 16; block id/16+1 holds 62330..62334.
    const HRSRC block = FindResourceExW(nullptr, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(IDS_ALREADY_RUNNING / 16 + 1),
                                        MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    EXPECT_NE(block, nullptr) << "no string block in language 2052";
}

TEST(AppResources, FormattedTextsShowTheCount) {
    const struct {
        UINT id;
        long long count;
        const wchar_t* text;
    } cases[] = {
        {IDS_TITLE_FORMAT, 0, L"KorvexOPCServer - [Client: 0]"},
        {IDS_TITLE_FORMAT, 2, L"KorvexOPCServer - [Client: 2]"},
        {IDS_TITLE_FORMAT, 1234, L"KorvexOPCServer - [Client: 1234]"},
        {IDS_CONFIRM_EXIT, 3, L"有[3]客户端与Korvex OPC Server连接，退出会导致客户端工作失败!\n是否退出?"},
        {IDS_SHUTDOWN_REASON, 3, L"用户强制关闭"},  // no %d: unchanged
    };
    for (const auto& c : cases) {
        EXPECT_EQ(app::FormatResourceString(c.id, c.count), c.text) << "string " << c.id << " with " << c.count;
    }
}

struct MenuLine {
    UINT id;  // 0 for a separator
    std::wstring text;
};

std::vector<MenuLine> ReadPopup(HMENU popup) {
    std::vector<MenuLine> lines;
    const int count = GetMenuItemCount(popup);
    for (int i = 0; i < count; ++i) {
        wchar_t text[128] = {};
        MENUITEMINFOW item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        item.dwTypeData = text;
        item.cch = 128;
        GetMenuItemInfoW(popup, static_cast<UINT>(i), TRUE, &item);
        if (item.fType & MFT_SEPARATOR) {
            lines.push_back({0, L""});
        } else {
            lines.push_back({item.wID, text});
        }
    }
    return lines;
}

void ExpectPopup(HMENU menu, int position, const wchar_t* title, const std::vector<MenuLine>& expected) {
    if (title != nullptr) {
        wchar_t text[128] = {};
        GetMenuStringW(menu, static_cast<UINT>(position), text, 128, MF_BYPOSITION);
        EXPECT_EQ(std::wstring(text), title) << "popup " << position << ": got \"" << Utf8(text) << "\"";
    }
    const std::vector<MenuLine> lines = ReadPopup(GetSubMenu(menu, position));
    ASSERT_EQ(lines.size(), expected.size()) << "popup " << position;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].id, expected[i].id) << "popup " << position << " item " << i;
        EXPECT_EQ(lines[i].text, expected[i].text)
            << "popup " << position << " item " << i << ": got \"" << Utf8(lines[i].text) << "\"";
    }
}

TEST(AppResources, MainMenu) {
    const HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    ExpectPopup(menu, 0, L"文件(&F)",
                {{ID_SERVER_REGISTER, L"注册(&R)"}, {ID_SERVER_UNREGISTER, L"注销(&U)"}, {0, L""}, {ID_APP_EXIT, L"退出(&S)"}});
    ExpectPopup(menu, 1, L"帮助(&H)", {{ID_APP_ABOUT, L"关于(&A)..."}});
    DestroyMenu(menu);
}

TEST(AppResources, TrayMenu) {
    const HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_TRAY_MENU));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 1);
    ExpectPopup(menu, 0, nullptr,
                {{ID_APP_ABOUT, L"关于(&A)..."},
                 {0, L""},
                 {ID_WINDOW_SHOW, L"最大化"},
                 {ID_WINDOW_HIDE, L"最小化"},
                 {0, L""},
                 {ID_APP_EXIT, L"退出"}});
    DestroyMenu(menu);
}

INT_PTR CALLBACK KeepDialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

TEST(AppResources, Dialogs) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);

    const HWND about = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), nullptr, &KeepDialog, 0);
    ASSERT_NE(about, nullptr);
    wchar_t caption[64] = {};
    GetWindowTextW(about, caption, 64);
    EXPECT_EQ(std::wstring(caption), L"关于 OPC Server") << "got \"" << Utf8(caption) << "\"";
    for (int control : {IDOK, IDC_PRODUCT_LABEL, IDC_RIGHTS_NOTICE, IDC_COMPANY_NAME, IDC_WEB_ADDRESS}) {
        EXPECT_NE(GetDlgItem(about, control), nullptr) << "About box control " << control;
    }
    DestroyWindow(about);

    // The client view is a child dialog in SimSun.
    const HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, instance, nullptr);
    const HWND view = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_CLIENT_VIEW), parent, &KeepDialog, 0);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(GetWindowLongW(view, GWL_STYLE) & WS_CHILD);
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(view, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(std::wstring(font.lfFaceName), L"SimSun") << "got \"" << Utf8(font.lfFaceName) << "\"";
    DestroyWindow(parent);
}

TEST(AppResources, IconHasTheTwoSizes) {
    for (int size : {16, 32}) {
        const HICON icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap{};
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        EXPECT_EQ(bitmap.bmBitsPixel, 32) << "alpha icon";
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

}  // namespace

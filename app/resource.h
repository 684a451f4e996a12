// Resource ids of the host application, shared by resources.rc and the code (the resource compiler
// reads only the preprocessor, hence the defines).
#pragma once

// Menu 128 is the main window's menu; icon 128 the application and tray icon.
#define IDR_MAINFRAME 128
#define IDD_CLIENT_VIEW 129
#define IDR_TRAY_MENU 130
#define IDD_ABOUTBOX 100

// Commands; the string table holds their prompts under the same ids.
#define ID_SERVER_REGISTER 32772
#define ID_SERVER_UNREGISTER 32773
#define ID_WINDOW_SHOW 32775
#define ID_WINDOW_HIDE 32776
#define ID_APP_ABOUT 57664
#define ID_APP_EXIT 57665

#define IDS_ALREADY_RUNNING 62330
#define IDS_CONFIRM_EXIT 62331
#define IDS_SHUTDOWN_REASON 62332
#define IDS_TITLE_FORMAT 62333
#define IDS_SCADA_NOT_RUNNING 62334
#define IDS_RUNTIME_STOPPED 62335

// Text controls of the About box, filled from the system-information record.
#define IDC_PRODUCT_LABEL 1004
#define IDC_RIGHTS_NOTICE 1005
#define IDC_COMPANY_NAME 1089
#define IDC_WEB_ADDRESS 1042

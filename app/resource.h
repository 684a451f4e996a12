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

// The client view: its controls, column titles, delivery states and status line. The server
// states are IDS_VIEW_STATE_BASE + OPCSERVERSTATE (1 running .. 6 communication fault).
#define IDC_VIEW_CLIENTS 1201
#define IDC_VIEW_GROUPS 1202
#define IDC_VIEW_STATUS 1203
#define IDS_VIEW_COL_CLIENT 62336
#define IDS_VIEW_COL_CONNECTED 62337
#define IDS_VIEW_COL_GROUPS 62338
#define IDS_VIEW_COL_ACTIVE_ITEMS 62339
#define IDS_VIEW_COL_CHANGES 62340
#define IDS_VIEW_COL_LAST_CALLBACK 62341
#define IDS_VIEW_COL_RESULT 62342
#define IDS_VIEW_COL_DELIVERY 62343
#define IDS_VIEW_COL_GROUP 62344
#define IDS_VIEW_COL_ACTIVE 62345
#define IDS_VIEW_COL_UPDATE_RATE 62346
#define IDS_VIEW_COL_DEADBAND 62347
#define IDS_VIEW_COL_ITEMS 62348
#define IDS_VIEW_COL_KEEP_ALIVE 62349
#define IDS_VIEW_COL_QUEUED 62350
#define IDS_VIEW_UNNAMED 62351
#define IDS_VIEW_IDLE 62352
#define IDS_VIEW_SENDING 62353
#define IDS_VIEW_STALLED 62354
#define IDS_VIEW_UNREACHABLE 62355
#define IDS_VIEW_YES 62356
#define IDS_VIEW_NO 62357
#define IDS_VIEW_STATUS 62358
#define IDS_VIEW_STATE_BASE 62358
#define IDS_VIEW_STATE_RUNNING 62359
#define IDS_VIEW_STATE_FAILED 62360
#define IDS_VIEW_STATE_NOCONFIG 62361
#define IDS_VIEW_STATE_SUSPENDED 62362
#define IDS_VIEW_STATE_TEST 62363
#define IDS_VIEW_STATE_COMM_FAULT 62364
#define IDS_VIEW_RUNTIME_REACHABLE 62365
#define IDS_VIEW_RUNTIME_HUNG 62366
#define IDS_VIEW_RUNTIME_GONE 62367
#define IDS_VIEW_NO_CALLBACK 62368

// Text controls of the About box, filled from the system-information record.
#define IDC_PRODUCT_LABEL 1004
#define IDC_RIGHTS_NOTICE 1005
#define IDC_COMPANY_NAME 1089
#define IDC_WEB_ADDRESS 1042

// Numeric ids of the dialog, its controls and the program's resources. Plain
// macros so that both C++ and the Windows resource compiler can include it.
#pragma once

#define IDD_VARNWIN32 107
#define IDR_MAINMENU 101
#define IDR_ACCELERATORS 100
#define IDI_VARNWIN32 105
#define IDI_VARNWIN32_LARGE 108
#define IDB_RADAR_FIRST 115 /* radar frames are bitmaps 115 to 130 */
#define IDB_RADAR_LAST 130

#define IDS_APP_CLASS 40000 /* "VARNWIN32" */
#define IDS_APP_VENDOR 40001 /* "Stelmar" */
#define IDM_EXIT 40000
#define IDM_ABOUT 40001

#define IDC_EXIT 1
#define IDC_CANCEL 2
#define IDC_CLEAR 1003
#define IDC_EVENT_LIST 40002
#define IDC_CPU 1000
#define IDC_OS_DESC 1002
#define IDC_LOCAL_IP_IN_COMMON 40006
#define IDC_HOST_NAME 40008
#define IDC_TRIGGER 1005
#define IDC_ISLAND 1006
#define IDC_CLOUD 1007
#define IDC_BEACON_INDICATOR0 40038
#define IDC_BEACON_FRAME 40018
#define IDC_BEACON_INDICATOR1 40039
#define IDC_BEACON_INDICATOR2 40040
#define IDC_BEACON_TEXT0 40041
#define IDC_BEACON_TEXT1 40042
#define IDC_BEACON_TEXT2 40043
#define IDC_SET_PING_TARGET 40025
#define IDC_PING_ADDRESS 40026
#define IDC_PING_INDICATOR2 40048
#define IDC_PING_INDICATOR1 40046
#define IDC_PING_INDICATOR0 40044
#define IDC_PING_TARGET_SHOWN 40033
#define IDC_PING_TEXT0 40045
#define IDC_PING_TEXT1 40047
#define IDC_PING_TEXT2 40049
#define IDC_RADAR 40050

#define IDT_REFRESH 112 /* 500 ms: status panel */
#define IDT_ANIMATION 113 /* 100 ms: radar */

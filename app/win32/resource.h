// Resource ids of qdxclient.rc. The control ids are the ones app/DialogTemplates.h names; the
// program checks at compile time that the two agree.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_QDXCLIENT_DIALOG 102
#define IDS_NOT_CONNECTED 102
#define IDS_CONNECTED 103
#define IDS_OPEN_FAILED 109
#define IDS_INIT_FAILED 110
#define IDR_MAINFRAME 128

#define IDC_START 1000
#define IDC_PROGRESS 1007
#define IDC_DEVICE_GROUP 1017
#define IDC_STATUS 1027

// The simulated player's items in the window's context menu.
#define IDM_SIM_UNPLUG 0x8101
#define IDM_SIM_PLUG_IN 0x8102

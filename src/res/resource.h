// Resource ids of setup.exe, shared by setup.rc and the program.
#pragma once

#define IDI_SETUP 128
#define IDC_SETUP 129
#define IDB_LOGO 133
#define IDB_CAMERA 134
#define IDD_LANGUAGE 135
#define IDS_INIT_FAILED 156
#define IDS_IE_REQUIRED 157
#define IDS_USAGE 158
#define IDS_MEDIUM_DAMAGED 159
#define IDC_LANGUAGE_LIST 1000

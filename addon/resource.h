// Resource identifiers of Lumvane.
#pragma once

#define IDI_LUMVANE 101
#define IDD_OTHER_PRODUCTS 103
#define IDB_LOGO 139

#define IDC_TITLE1 1000
#define IDC_TITLE2 1001
#define IDC_SUBHEADING 1007
#define IDC_LOGO 1008
#define IDC_HEADER_SEPARATOR 1009
#define IDC_PICTURE1 1079
#define IDC_PICTURE2 1080
#define IDC_DESCRIPTION1 1081
#define IDC_DESCRIPTION2 1082
#define IDC_BUTTON_SEPARATOR 1083
#define IDC_HEADING 1084

// Cursor resource of winhlp32.exe used as the pointing hand.
#define WINHLP32_HAND_CURSOR 106

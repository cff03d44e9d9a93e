// Resource ids of Vantrel.exe: menus, commands, strings and indicators.
#pragma once

// Main frame: menu, toolbar, icon and document string share one id.
#define IDR_MAINFRAME 128

// Main frame commands.
#define ID_CAPTURE_START   26000
#define ID_CAPTURE_STOP    26001
#define ID_ITEM_ADD        26002
#define ID_SETTINGS_SYSTEM 26003
#define ID_ITEM_DELETE     26005
#define ID_ITEM_CHANGE     26006
#define ID_SETTINGS_COLOR  26007
#define ID_APP_ABOUT       57664
#define ID_APP_EXIT        57665
#define ID_HELP_FINDER     57670
#define ID_VIEW_TOOLBAR    59392
#define ID_VIEW_STATUS_BAR 59393

// Status bar clock pane.
#define ID_INDICATOR_CLOCK 9900

// Main frame child windows.
#define IDC_ACTIVITY_LOG 291

// Capture monitor window: menu, icon, commands and child windows.
#define IDR_MONITOR            133
#define IDI_MONITOR            141
#define ID_MONITOR_CLEAR       25000
#define ID_MONITOR_PRINT       25002
#define ID_MONITOR_HIGHLIGHT   25004
#define ID_MONITOR_PAUSE       25007
#define ID_MONITOR_DOUBLE_BYTE 25008
#define ID_MONITOR_SAVE        25010
#define ID_MONITOR_COPY        25011
#define IDC_MONITOR_SCROLL_BAR 257
#define IDC_MONITOR_STATUS_BAR 501

// About box.
#define IDD_ABOUTBOX      100
#define IDC_ABOUT_HISTORY 1000
#define IDC_ABOUT_TITLE   1001
#define IDC_ABOUT_ICON    1002

// Capture stop progress dialog.
#define IDD_STOP_PROGRESS 142
#define IDC_STOP_PROGRESS 1018
#define IDC_STOP_TEXT     1019

// Capture settings dialog and the items pane's context menu.
#define IDD_CAPTURE_SETTINGS 135
#define IDC_CAPTURE_PORT     1005
#define IDC_OUTPUT_FORM      1006
#define IDC_BUFFER_SIZE      1007
#define IDC_BUFFER_SIZE_SPIN 1008
#define IDC_OUTPUT_PORT      1009
#define IDR_ITEMS_MENU       137

// Colour settings dialog: the buttons of Color1..Color8 in that order.
#define IDD_COLOUR_SETTINGS  136
#define IDC_COLOR_RECEIVED   1011
#define IDC_COLOR_SENT       1012
#define IDC_COLOR_TIME       1013
#define IDC_COLOR_SEPARATOR  1014
#define IDC_COLOR_ERROR      1015
#define IDC_COLOR_LABELS     1016
#define IDC_COLOR_BACKGROUND 1017
#define IDC_COLOR_SELECTION  1018

// System settings dialog.
#define IDD_SYSTEM_SETTINGS     140
#define IDC_REFRESH_PERIOD      1016
#define IDC_REFRESH_PERIOD_SPIN 1017
#define IDC_TIME_LIMIT          1018
#define IDC_TIME_LIMIT_SPIN     1019

// Highlight conditions: the editor, the conditions dialog and the swatch
// bitmap (16 by 16, black, mapped to a condition's colour).
#define IDD_HIGHLIGHT_EDITOR     145
#define IDD_HIGHLIGHT_CONDITIONS 146
#define IDB_HIGHLIGHT_SWATCH     147
#define IDC_PATTERN_BINARY       1033
#define IDC_PATTERN_ASCII        1034
#define IDC_PATTERN_TEXT         1035
#define IDC_PATTERN_COLOUR       1036
#define IDC_PATTERN_TARGET       1039
#define IDC_PATTERN_SWATCH       1040
#define IDC_CONDITION_LIST       1041
#define IDC_CONDITION_ADD        1042
#define IDC_CONDITION_DELETE     1043

// Print progress and print dialogs.
#define IDD_PRINT_PROGRESS      143
#define IDD_PRINT               144
#define IDC_PRINT_PROGRESS      1019
#define IDC_PRINT_CANCEL        1020
#define IDC_PRINTER             1021
#define IDC_PRINTER_SETTINGS    1022
#define IDC_MARGIN_TOP          1023
#define IDC_MARGIN_BOTTOM       1024
#define IDC_MARGIN_TOP_SPIN     1025
#define IDC_MARGIN_BOTTOM_SPIN  1026
#define IDC_MARGIN_LEFT         1027
#define IDC_MARGIN_LEFT_SPIN    1028
#define IDC_MARGIN_RIGHT        1029
#define IDC_MARGIN_RIGHT_SPIN   1030
#define IDC_SOFT_LAYOUT         1031
#define IDC_PRINT_ALL           1032
#define IDC_PRINT_SELECTION     1033
#define IDS_NO_PRINTER          40050
#define IDS_PRINT_NO_ROOM       40051
#define IDS_BUSY_PRINTING       40052
#define IDS_PRINT_CAPTION       40053
// Print layouts refused for their width.
#define IDS_PRINT_TOO_NARROW        40560
#define IDS_PRINT_PAPER_TOO_NARROW  40561
// Output form texts, in OutputForm order.
#define IDS_FORM_STANDARD_MONITOR   30000
#define IDS_FORM_PORT_FORMAT        30001
#define IDS_FORM_PORT_WRITE_FILE    30002
#define IDS_FORM_PORT_READ_FILE     30003
#define IDS_FORM_PORT_SIGNAL_SELECT 30004

// Capture items list column headers.
#define IDS_COLUMN_PORT        30100
#define IDS_COLUMN_FORM        30101
#define IDS_COLUMN_BUFFER_SIZE 30104

// Highlight condition targets.
#define IDS_TARGET_BOTH     30300
#define IDS_TARGET_SENT     30301
#define IDS_TARGET_RECEIVED 30302

// Highlight conditions list: column headers and kinds.
#define IDS_COLUMN_COLOUR 30310
#define IDS_COLUMN_TARGET 30311
#define IDS_COLUMN_KIND   30312
#define IDS_COLUMN_DATA   30313
#define IDS_KIND_ASCII    30320
#define IDS_KIND_BINARY   30321

// Capture monitor window.
#define IDS_MONITOR_TITLE   39000
#define IDS_MONITOR_STOPPED 39001
#define IDS_STATUS_FONT     39002
#define IDS_SENT_LABEL      39003
#define IDS_RECEIVED_LABEL  39004
#define IDS_ERROR_LABEL     39005

// Message box captions and texts.
#define IDS_EXIT_CAPTION         40008
#define IDS_EXIT_WHILE_CAPTURING 40009
#define IDS_CONFIRM_CAPTION      40010
#define IDS_NO_ITEM_SELECTED     40011
#define IDS_DELETE_ITEM          40021
#define IDS_DELETE_CAPTION       40022
#define IDS_DELETE_CONDITION     40023
#define IDS_SETTINGS_NOT_SAVED   40030
#define IDS_NO_PATTERN           40040
#define IDS_INVALID_PATTERN      40041
#define IDS_PATTERN_CUT          40042

// Application title.
#define IDS_APP_TITLE 57344

// Help page (an HTML resource), the keys' and the monitors' dialogs' texts.
// The frames' accelerator tables share their menus' ids.
#define IDR_HELP_PAGE           150
#define IDS_MONITOR_DIALOG_OPEN 40100
#define IDS_HELP_NOT_OPENED     40101

// Saving a monitor: the range part of the save dialog, the file types, the
// progress text and the messages; copying its lines.
#define IDD_SAVE_RANGE          160
#define IDC_SAVE_ALL            1050
#define IDC_SAVE_SELECTION      1051
#define IDC_PROGRESS_TEXT       1052
#define IDS_SAVE_FILE_TYPES     39010
#define IDS_SAVING              39011
#define IDS_SAVE_CAPTION        40110
#define IDS_SAVE_FAILED         40111
#define IDS_COPY_FAILED         40112

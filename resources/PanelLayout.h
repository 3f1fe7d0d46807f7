// The control panel's dialog (resource 101), written once: the resource script and the Linux
// resource table both expand these macros. Positions and sizes are in dialog units.
#pragma once

#include "resources/resource.h"

#define KX7_PANEL_X 0
#define KX7_PANEL_Y 0
#define KX7_PANEL_WIDTH 291
#define KX7_PANEL_HEIGHT 223
#define KX7_PANEL_STYLE (DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU)
#define KX7_PANEL_EX_STYLE WS_EX_STATICEDGE
#define KX7_PANEL_CAPTION "Dialog"
#define KX7_PANEL_FONT_SIZE 9
#define KX7_PANEL_FONT "Microsoft Sans Serif"

#define KX7_PANEL_NOTICE                                            \
  "The host takes a new preferred buffer size at its next query.\n" \
  "Your choice is kept for the next session."

#define KX7_CHILD (WS_CHILD | WS_VISIBLE)
#define KX7_CHECK_BOX (KX7_CHILD | BS_AUTOCHECKBOX | BS_LEFTTEXT | BS_RIGHT | WS_TABSTOP)

// TEXT(class, text, id, style, x, y, width, height, extended style) declares a control with a
// caption; IMAGE(...) the same with a bitmap resource identifier instead of the caption.
#define KX7_PANEL_CONTROLS(TEXT, IMAGE)                                                         \
  TEXT("Button", "OK", IDOK, KX7_CHILD | BS_PUSHBUTTON | WS_TABSTOP, 234, 202, 50, 14, 0)       \
  TEXT("Static", KX7_PANEL_NOTICE, IDC_METRICS, KX7_CHILD | SS_CENTER, 7, 147, 277, 21, 0)      \
  TEXT("Button", "Modeless Control Panel ", IDC_MODELESS, KX7_CHECK_BOX, 7, 39, 274, 9, 0)      \
  TEXT("Button", "Automatically open Control Panel when driver is opened ", IDC_AUTO_OPEN,      \
       KX7_CHECK_BOX, 7, 53, 274, 9, 0)                                                         \
  TEXT("Static", "Norva-KX-7 ASIO Control Panel", IDC_VERSION,                                  \
       KX7_CHILD | SS_CENTER | SS_CENTERIMAGE, 7, 174, 277, 12, 0)                              \
  IMAGE("Static", IDB_LOGO_SMALL, IDC_STATIC, KX7_CHILD | SS_BITMAP, 7, 196, 59, 20,            \
        WS_EX_CLIENTEDGE)                                                                       \
  IMAGE("Static", IDB_LOGO_LARGE, IDC_STATIC, KX7_CHILD | SS_BITMAP, 7, 78, 278, 53, 0)         \
  TEXT("ComboBox", "", IDC_BUFFER_SIZE, KX7_CHILD | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, \
       244, 21, 39, 400, 0)                                                                     \
  TEXT("Static", "Preferred ASIO Buffer Size", IDC_BUFFER_SIZE_LABEL, KX7_CHILD | SS_RIGHT, 97, \
       23, 144, 9, 0)                                                                           \
  TEXT("Static", "", IDC_LAST_EVENT, KX7_CHILD | SS_CENTER, 7, 134, 277, 9, 0)

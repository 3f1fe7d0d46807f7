// A headless window and dialog manager: windows with identifiers, texts and combo-box lists,
// per-thread message queues, timers and dialog procedures, plus module resources and version
// information. Nothing is drawn; tests "click" by posting the messages a real window would get.
#pragma once

#include "platform/emu/types.h"

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT, *PPOINT, *LPPOINT;

typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *PRECT, *LPRECT;

typedef struct tagMSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
} MSG, *PMSG, *LPMSG;

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

struct HRSRC__ {
  int unused;
};
typedef HRSRC__* HRSRC;
typedef HANDLE HGLOBAL;

typedef struct tagVS_FIXEDFILEINFO {
  DWORD dwSignature;
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
} VS_FIXEDFILEINFO;
static_assert(sizeof(VS_FIXEDFILEINFO) == 52, "VS_FIXEDFILEINFO");

#define MAKEWORD(a, b)                                    \
  (static_cast<WORD>((static_cast<DWORD_PTR>(a) & 0xff) | \
                     ((static_cast<DWORD_PTR>(b) & 0xff) << 8)))
#define MAKELONG(a, b)                                      \
  (static_cast<LONG>((static_cast<DWORD_PTR>(a) & 0xffff) | \
                     ((static_cast<DWORD_PTR>(b) & 0xffff) << 16)))
#define MAKEWPARAM(l, h) (static_cast<WPARAM>(static_cast<DWORD>(MAKELONG(l, h))))
#define MAKELPARAM(l, h) (static_cast<LPARAM>(static_cast<DWORD>(MAKELONG(l, h))))
#define MAKEINTRESOURCE MAKEINTRESOURCEA

#define RT_BITMAP MAKEINTRESOURCEA(2)
#define RT_DIALOG MAKEINTRESOURCEA(5)
#define RT_VERSION MAKEINTRESOURCEA(16)

#define WM_NULL 0x0000u
#define WM_DESTROY 0x0002u
#define WM_SETTEXT 0x000Cu
#define WM_GETTEXT 0x000Du
#define WM_GETTEXTLENGTH 0x000Eu
#define WM_CLOSE 0x0010u
#define WM_QUIT 0x0012u
#define WM_KEYDOWN 0x0100u
#define WM_KEYUP 0x0101u
#define WM_CHAR 0x0102u
#define WM_INITDIALOG 0x0110u
#define WM_COMMAND 0x0111u
#define WM_SYSCOMMAND 0x0112u
#define WM_TIMER 0x0113u
#define WM_USER 0x0400u
#define WM_APP 0x8000u

#define SC_CLOSE 0xF060u
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B

#define BN_CLICKED 0
#define BM_GETCHECK 0x00F0u
#define BM_SETCHECK 0x00F1u
#define BM_CLICK 0x00F5u
#define BST_UNCHECKED 0
#define BST_CHECKED 1

#define CB_ERR (-1)
#define CB_ADDSTRING 0x0143u
#define CB_GETCOUNT 0x0146u
#define CB_GETCURSEL 0x0147u
#define CB_GETLBTEXT 0x0148u
#define CB_GETLBTEXTLEN 0x0149u
#define CB_RESETCONTENT 0x014Bu
#define CB_SETCURSEL 0x014Eu
#define CBN_SELCHANGE 1

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOW 5
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define GWLP_USERDATA (-21)
#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u
#define QS_ALLINPUT 0x04FFu

#define WS_OVERLAPPED 0x00000000u
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_VSCROLL 0x00200000u
#define WS_SYSMENU 0x00080000u
#define WS_GROUP 0x00020000u
#define WS_TABSTOP 0x00010000u
#define WS_EX_DLGMODALFRAME 0x00000001u
#define WS_EX_CLIENTEDGE 0x00000200u
#define WS_EX_STATICEDGE 0x00020000u
#define DS_MODALFRAME 0x80u
#define DS_SETFONT 0x40u
#define BS_PUSHBUTTON 0x0u
#define BS_DEFPUSHBUTTON 0x1u
#define BS_AUTOCHECKBOX 0x3u
#define BS_LEFTTEXT 0x20u
#define BS_RIGHT 0x200u
#define SS_LEFT 0x0u
#define SS_CENTER 0x1u
#define SS_RIGHT 0x2u
#define SS_BITMAP 0xEu
#define SS_CENTERIMAGE 0x200u
#define CBS_DROPDOWNLIST 0x3u

#define VS_FFI_SIGNATURE 0xFEEF04BDu

// On this platform an RT_DIALOG resource holds this record instead of the binary template.
struct EmuDialogControl {
  const char* className;  // "Button", "Static" or "ComboBox"
  const char* text;       // caption, or "#<number>" naming a bitmap resource
  int id;
  DWORD style;
  DWORD exStyle;
  short x, y, cx, cy;  // dialog units
};
struct EmuDialogTemplate {
  DWORD style;
  DWORD exStyle;
  short x, y, cx, cy;  // dialog units
  const char* caption;
  WORD pointSize;
  const char* typeface;
  const EmuDialogControl* controls;
  int controlCount;
};

extern "C" {
HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC dialogProc,
                        LPARAM initParam);
BOOL DestroyWindow(HWND window);
BOOL EndDialog(HWND dialog, INT_PTR result);
BOOL IsWindow(HWND window);
BOOL IsWindowVisible(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL SetForegroundWindow(HWND window);
HWND FindWindowA(LPCSTR className, LPCSTR windowName);
HWND GetParent(HWND window);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND window);
DWORD GetWindowThreadProcessId(HWND window, LPDWORD processId);
BOOL SetWindowTextA(HWND window, LPCSTR text);
int GetWindowTextA(HWND window, LPSTR text, int size);
int GetWindowTextLengthA(HWND window);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrA(HWND window, int index);
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
int GetSystemMetrics(int index);

// Messages sent to a window of another thread are answered from the window's own data (text,
// list, selection); they never run a dialog procedure on the sender's thread.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax);
BOOL PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT remove);
// Waits for one of the handles (WAIT_OBJECT_0 + i) or for a message in the thread's queue
// (WAIT_OBJECT_0 + count) when `wakeMask` is not 0, up to `milliseconds` of the real clock.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageA(const MSG* message);
BOOL IsDialogMessageA(HWND dialog, LPMSG message);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerProc);
BOOL KillTimer(HWND window, UINT_PTR id);

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
BOOL FreeResource(HGLOBAL data);
BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, UINT* length);

// Resources of a module, which a library registers when it is loaded (in place of the resource
// section of a Windows module). The data must stay valid until unregistered.
void PlatformRegisterResource(HMODULE module, LPCSTR type, LPCSTR name, LPCVOID data, DWORD size);
void PlatformUnregisterResources(HMODULE module);
}

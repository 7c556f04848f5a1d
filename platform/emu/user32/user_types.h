// User-interface types and constants (user32, comctl32, comdlg32), declared
// for the Linux build with the values Windows gives them.
#pragma once

#include "platform/emu/win_types.h"

typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef WORD ATOM;

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
typedef RECT* LPRECT;

struct POINT {
    LONG x;
    LONG y;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG* LPMSG;

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef UINT_PTR(CALLBACK* LPOFNHOOKPROC)(HWND, UINT, WPARAM, LPARAM);

#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(r) ((reinterpret_cast<ULONG_PTR>(r) >> 16) == 0)
#define MAKEWPARAM(l, h) (static_cast<WPARAM>(static_cast<DWORD>(MAKELONG(l, h))))
#define MAKELPARAM(l, h) (static_cast<LPARAM>(static_cast<DWORD>(MAKELONG(l, h))))
#define MAKELONG(a, b)                                              \
    (static_cast<LONG>((static_cast<DWORD>(static_cast<WORD>(a))) | \
                       (static_cast<DWORD>(static_cast<WORD>(b)) << 16)))

#define HWND_TOP (static_cast<HWND>(nullptr))

// Window messages.
#define WM_NULL 0x0000
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_SHOWWINDOW 0x0018
#define WM_NCDESTROY 0x0082
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_NOTIFY 0x004E
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_RBUTTONUP 0x0205
#define WM_MOUSEMOVE 0x0200
#define WM_SYSCOMMAND 0x0112
#define WM_ENTERSIZEMOVE 0x0231
#define WM_EXITSIZEMOVE 0x0232

// System commands (WM_SYSCOMMAND); the low four bits are the system's own.
#define SC_SIZE 0xF000
#define SC_MOVE 0xF010
#define WM_USER 0x0400
#define WM_APP 0x8000

// Virtual keys.
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define VK_HOME 0x24
#define VK_UP 0x26
#define VK_DOWN 0x28

// Dialog results and standard control IDs.
#define IDOK 1
#define IDCANCEL 2

// Window styles.
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_VSCROLL 0x00200000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_EX_TRANSPARENT 0x00000020L

// Dialog styles.
#define DS_MODALFRAME 0x80L
#define DS_SETFONT 0x40L
#define DS_FIXEDSYS 0x0008L
#define DS_CENTER 0x0800L
#define DS_CONTROL 0x0400L

// Control styles.
#define SS_LEFT 0x00000000L
#define SS_CENTER 0x00000001L
#define BS_PUSHBUTTON 0x00000000L
#define BS_DEFPUSHBUTTON 0x00000001L
#define BS_AUTOCHECKBOX 0x00000003L
#define CBS_DROPDOWNLIST 0x0003L
#define CBS_SORT 0x0100L
#define ES_AUTOHSCROLL 0x0080L

// Button notifications and messages.
#define BN_CLICKED 0
#define BM_CLICK 0x00F5

// Edit control messages.
#define EM_SETSEL 0x00B1

// Combo boxes.
#define CB_ERR (-1)
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_GETLBTEXT 0x0148
#define CB_GETLBTEXTLEN 0x0149
#define CB_ADDSTRING 0x0143
#define CB_RESETCONTENT 0x014B
#define CB_SETCURSEL 0x014E
#define CBN_SELCHANGE 1

// Progress bars.
#define PROGRESS_CLASSW L"msctls_progress32"
#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define PBM_GETPOS (WM_USER + 8)

// ShowWindow commands.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

// SetWindowPos flags.
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010

// Message boxes.
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_YESNO 0x00000004L
#define MB_ICONHAND 0x00000010L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_ICONMASK 0x000000F0L
#define MB_TYPEMASK 0x0000000FL
#define IDYES 6
#define IDNO 7

// Common dialogs: the file-open dialog.
#define OFN_READONLY 0x00000001
#define OFN_HIDEREADONLY 0x00000004
#define OFN_ENABLEHOOK 0x00000020
#define OFN_ENABLETEMPLATE 0x00000040
#define OFN_PATHMUSTEXIST 0x00000800
#define OFN_FILEMUSTEXIST 0x00001000
#define OFN_EXPLORER 0x00080000
#define OFN_EX_NOPLACESBAR 0x00000001

#define CDM_FIRST (WM_USER + 100)
#define CDM_SETCONTROLTEXT (CDM_FIRST + 0x0004)
#define CDM_HIDECONTROL (CDM_FIRST + 0x0005)

// Control IDs of the file-open dialog's own controls (dlgs.h).
#define chx1 0x0410
#define cmb1 0x0470
#define cmb13 0x047c
#define edt1 0x0480
#define stc2 0x0441
#define stc3 0x0442

// CommDlgExtendedError codes.
#define CDERR_STRUCTSIZE 0x0001
#define CDERR_INITIALIZATION 0x0002
#define CDERR_FINDRESFAILURE 0x0006
#define CDERR_DIALOGFAILURE 0xFFFF
#define FNERR_BUFFERTOOSMALL 0x3003

// User-interface error codes.
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_WINDOW_OF_OTHER_THREAD 1408L
#define ERROR_CONTROL_ID_NOT_FOUND 1421L
#define ERROR_MESSAGE_SYNC_ONLY 1159L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L

struct OPENFILENAMEW {
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    LPCWSTR lpstrFilter;
    LPWSTR lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;
    LPWSTR lpstrFile;
    DWORD nMaxFile;
    LPWSTR lpstrFileTitle;
    DWORD nMaxFileTitle;
    LPCWSTR lpstrInitialDir;
    LPCWSTR lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    LPCWSTR lpstrDefExt;
    LPARAM lCustData;
    LPOFNHOOKPROC lpfnHook;
    LPCWSTR lpTemplateName;
    void* pvReserved;
    DWORD dwReserved;
    DWORD FlagsEx;
};

// Notifications of the Explorer-style file dialog to its hook (WM_NOTIFY).
struct NMHDR {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT code;
};
#define CDN_FIRST (0U - 601U)
#define CDN_INITDONE (CDN_FIRST - 0x0000U)
typedef OPENFILENAMEW* LPOPENFILENAMEW;

struct OFNOTIFYW {
    NMHDR hdr;
    LPOPENFILENAMEW lpOFN;
    LPWSTR pszFile;
};

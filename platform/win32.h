// platform/win32.h: the one door from the system to its platform.
//
// On Windows this is the real Win32, Winsock 1.1, common controls and
// multimedia timer headers. Elsewhere it declares our own layer under the
// same names, with the results the system relies on; the layer lives in
// platform/ and nothing of it but this header is visible to the system.
#pragma once

#ifdef _WIN32

#include <winsock.h>
#include <windows.h>
#include <commctrl.h>
#include <mmsystem.h>

#else // the native layer

#include <cstddef>
#include <cstdint>

// ---- basic types -------------------------------------------------------

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef int INT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef WORD ATOM;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef void *LPVOID;
typedef void *HANDLE;

// Window, module and resource handles are opaque; the layer hands out
// small numbers, so a stale handle is refused rather than dereferenced.
struct HWND__;
struct HINSTANCE__;
struct HRSRC__;
struct HICON__;
struct HCURSOR__;
struct HBRUSH__;
typedef HWND__ *HWND;
typedef HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef HRSRC__ *HRSRC;
typedef HANDLE HGLOBAL;
typedef HICON__ *HICON;
typedef HCURSOR__ *HCURSOR;
typedef HBRUSH__ *HBRUSH;

#define TRUE 1
#define FALSE 0

#define LOWORD(l) ((WORD)(((DWORD)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD)(l)) >> 16) & 0xffff))
#define MAKEWORD(lo, hi) ((WORD)(((BYTE)(lo)) | (((WORD)((BYTE)(hi))) << 8)))
#define MAKELONG(lo, hi) ((LONG)(((WORD)(lo)) | (((DWORD)((WORD)(hi))) << 16)))
#define MAKELPARAM(lo, hi) ((LPARAM)(DWORD)MAKELONG(lo, hi))
#define MAKEWPARAM(lo, hi) ((WPARAM)(DWORD)MAKELONG(lo, hi))
#define MAKEINTRESOURCEA(i) ((LPSTR)(ULONG_PTR)((WORD)(i)))
#define IS_INTRESOURCE(p) ((((ULONG_PTR)(p)) >> 16) == 0)

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

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

typedef LRESULT(CALLBACK *WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef INT_PTR(CALLBACK *DLGPROC)(HWND, UINT, WPARAM, LPARAM);

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};

// ---- window messages and notifications ---------------------------------

#define WM_NULL 0x0000
#define WM_DESTROY 0x0002
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_CLOSE 0x0010
#define WM_KEYDOWN 0x0100
#define WM_CHAR 0x0102
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_USER 0x0400
#define WM_APP 0x8000

#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28

#define BM_CLICK 0x00F5
#define BN_CLICKED 0

#define EM_SETSEL 0x00B1
#define EN_CHANGE 0x0300

#define CB_ERR (-1)
#define CB_ADDSTRING 0x0143
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_SETCURSEL 0x014E
#define CBN_SELCHANGE 1

#define DM_GETDEFID (WM_USER + 0)
#define DC_HASDEFID 0x534B

#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define PBM_GETRANGE (WM_USER + 7)
#define PBM_GETPOS (WM_USER + 8)

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

// ---- window, dialog and control styles ---------------------------------

#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_VSCROLL 0x00200000L
#define WS_HSCROLL 0x00100000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_EX_STATICEDGE 0x00020000L
#define WS_EX_CLIENTEDGE 0x00000200L

#define DS_3DLOOK 0x0004L
#define DS_FIXEDSYS 0x0008L
#define DS_SETFONT 0x0040L
#define DS_MODALFRAME 0x0080L
#define DS_CENTER 0x0800L

#define BS_PUSHBUTTON 0x0000L
#define BS_DEFPUSHBUTTON 0x0001L
#define BS_GROUPBOX 0x0007L

#define ES_LEFT 0x0000L
#define ES_CENTER 0x0001L
#define ES_RIGHT 0x0002L
#define ES_MULTILINE 0x0004L
#define ES_PASSWORD 0x0020L
#define ES_AUTOVSCROLL 0x0040L
#define ES_AUTOHSCROLL 0x0080L
#define ES_READONLY 0x0800L
#define ES_WANTRETURN 0x1000L
#define ES_NUMBER 0x2000L

#define SS_LEFT 0x0000L
#define SS_CENTER 0x0001L
#define SS_RIGHT 0x0002L
#define SS_ICON 0x0003L
#define SS_NOPREFIX 0x0080L
#define SS_CENTERIMAGE 0x0200L
#define SS_SUNKEN 0x1000L

#define CBS_SIMPLE 0x0001L
#define CBS_DROPDOWN 0x0002L
#define CBS_DROPDOWNLIST 0x0003L
#define CBS_SORT 0x0100L

#define PBS_SMOOTH 0x01

// ---- showing, placing and pumping --------------------------------------

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1

#define HWND_TOP ((HWND)0)
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_TYPEMASK 0x0000000FL
#define MB_ICONHAND 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONASTERISK 0x00000040L
#define MB_APPLMODAL 0x00000000L
#define MB_SYSTEMMODAL 0x00001000L
#define MB_TASKMODAL 0x00002000L

ATOM RegisterClassA(const WNDCLASSA *wc);

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR template_name, HWND owner,
                        DLGPROC proc, LPARAM init_param);
HWND CreateDialogParamA(HINSTANCE instance, LPCSTR template_name, HWND owner,
                        DLGPROC proc, LPARAM init_param);
BOOL EndDialog(HWND dialog, INT_PTR result);
BOOL DestroyWindow(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL IsWindow(HWND window);
BOOL IsWindowEnabled(HWND window);
BOOL EnableWindow(HWND window, BOOL enable);

BOOL SetWindowTextA(HWND window, LPCSTR text);
int GetWindowTextA(HWND window, LPSTR buffer, int capacity);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int capacity);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND control);
HWND GetParent(HWND window);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam,
                            LPARAM lparam);
BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
HWND SetFocus(HWND window);
HWND GetFocus();

BOOL PeekMessageA(MSG *msg, HWND window, UINT first, UINT last, UINT remove);
BOOL TranslateMessage(const MSG *msg);
LRESULT DispatchMessageA(const MSG *msg);

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);

BOOL GetWindowRect(HWND window, RECT *rect);
int GetSystemMetrics(int index);
BOOL SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy,
                  UINT flags);

// ---- common controls ---------------------------------------------------

#define ICC_PROGRESS_CLASS 0x00000020
#define ICC_INTERNET_CLASSES 0x00000800

struct INITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
};

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX *init);

// ---- Windows Sockets 1.1 -----------------------------------------------
//
// Declared in a namespace of their own so that the BSD functions of the
// same names never meet them; the using-declarations below give the system
// the Winsock spelling.

// The C library declares its own select(), fd_set and timeval (glibc does
// so through <stdlib.h>); they are taken in here, before anything else can,
// so that the Winsock forms below can have those names in the system's
// code: fd_set and timeval are spelt through macros, and select() is an
// overload on the Winsock types.
#include <sys/select.h>
#include <sys/time.h>
#undef FD_SETSIZE
#undef FD_ZERO
#undef FD_SET
#undef FD_CLR
#undef FD_ISSET
#define fd_set winsock_fd_set
#define timeval winsock_timeval

// The same typedefs as the BSD headers', so both may meet in one file.
typedef unsigned char u_char;
typedef unsigned short u_short;
typedef unsigned int u_int;
typedef unsigned long u_long;

namespace winsock {

typedef UINT_PTR SOCKET;

struct in_addr {
    uint32_t s_addr;
};

struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};

struct sockaddr_in {
    short sin_family;
    u_short sin_port;
    struct in_addr sin_addr;
    char sin_zero[8];
};

struct hostent {
    char *h_name;
    char **h_aliases;
    short h_addrtype;
    short h_length;
    char **h_addr_list;
};

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char *lpVendorInfo;
};

int WSAStartup(WORD version, WSADATA *data);
int WSAGetLastError();
void WSASetLastError(int error);
int gethostname(char *name, int capacity);
struct hostent *gethostbyname(const char *name);

SOCKET socket(int family, int type, int protocol);
int bind(SOCKET s, const struct sockaddr *address, int length);
int connect(SOCKET s, const struct sockaddr *address, int length);
int send(SOCKET s, const char *data, int length, int flags);
int recv(SOCKET s, char *buffer, int capacity, int flags);
int sendto(SOCKET s, const char *data, int length, int flags,
           const struct sockaddr *to, int to_length);
int recvfrom(SOCKET s, char *buffer, int capacity, int flags,
             struct sockaddr *from, int *from_length);
int ioctlsocket(SOCKET s, long command, u_long *argument);
int closesocket(SOCKET s);

// Winsock's fd_set is a counted array of sockets, not a bit map: any
// socket value fits, and at most FD_SETSIZE of them.
#define FD_SETSIZE 64
struct winsock_fd_set {
    u_int fd_count;
    SOCKET fd_array[FD_SETSIZE];
};
struct winsock_timeval {
    long tv_sec;
    long tv_usec;
};
// Waits until a socket of the sets is ready or the time-out has passed
// (null: no limit); the sets then hold only the ready sockets. Returns how
// many there are (0 on time-out), SOCKET_ERROR with WSAEINVAL when every set
// is empty, as Winsock does.
int select(int ignored, winsock_fd_set *read_set, winsock_fd_set *write_set,
           winsock_fd_set *except_set, const winsock_timeval *timeout);
int fd_is_set(SOCKET s, const winsock_fd_set *set);
void fd_set_add(SOCKET s, winsock_fd_set *set);
void fd_set_remove(SOCKET s, winsock_fd_set *set);

uint16_t htons(uint16_t value);
uint16_t ntohs(uint16_t value);
uint32_t htonl(uint32_t value);
uint32_t ntohl(uint32_t value);

} // namespace winsock

using winsock::hostent;
using winsock::in_addr;
using winsock::sockaddr;
using winsock::sockaddr_in;
using winsock::SOCKET;
using winsock::WSADATA;

using winsock::bind;
using winsock::closesocket;
using winsock::connect;
using winsock::gethostbyname;
using winsock::gethostname;
using winsock::htonl;
using winsock::htons;
using winsock::ioctlsocket;
using winsock::ntohl;
using winsock::ntohs;
using winsock::recv;
using winsock::recvfrom;
using winsock::send;
using winsock::sendto;
using winsock::socket;
using winsock::select;
using winsock::winsock_fd_set;
using winsock::winsock_timeval;
using winsock::WSAGetLastError;
using winsock::WSASetLastError;
using winsock::WSAStartup;

#define h_addr h_addr_list[0]

#define FD_ZERO(set) ((set)->fd_count = 0)
#define FD_SET(s, set) winsock::fd_set_add((s), (set))
#define FD_CLR(s, set) winsock::fd_set_remove((s), (set))
#define FD_ISSET(s, set) winsock::fd_is_set((s), (set))

#define INVALID_SOCKET ((SOCKET)(~0))
#define SOCKET_ERROR (-1)
#define AF_INET 2
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17
#define INADDR_ANY ((uint32_t)0x00000000)
#define FIONBIO ((long)0x8004667eUL)

#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEDESTADDRREQ 10039
#define WSAEMSGSIZE 10040
#define WSAEPROTOTYPE 10041
#define WSAEPROTONOSUPPORT 10043
#define WSAESOCKTNOSUPPORT 10044
#define WSAEOPNOTSUPP 10045
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAENETRESET 10052
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAEHOSTDOWN 10064
#define WSAEHOSTUNREACH 10065
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSAHOST_NOT_FOUND 11001
#define WSATRY_AGAIN 11002
#define WSANO_RECOVERY 11003
#define WSANO_DATA 11004

// ---- kernel ------------------------------------------------------------

typedef DWORD(WINAPI *LPTHREAD_START_ROUTINE)(LPVOID);

#define STILL_ACTIVE 259
#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000
#define WAIT_TIMEOUT 0x00000102
#define WAIT_FAILED 0xFFFFFFFF

HANDLE CreateThread(void *security, size_t stack_size,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD flags, DWORD *thread_id);
BOOL GetExitCodeThread(HANDLE thread, DWORD *exit_code);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
BOOL CloseHandle(HANDLE object);
DWORD GetCurrentThreadId();
void Sleep(DWORD milliseconds);
[[noreturn]] void ExitProcess(UINT exit_code);

// A slim lock whose all-zero state is the unlocked state, as on Windows,
// so a record filled with zero bytes holds a usable one.
struct SRWLOCK {
    uintptr_t state;
};
#define SRWLOCK_INIT {0}
void AcquireSRWLockExclusive(SRWLOCK *lock);
void ReleaseSRWLockExclusive(SRWLOCK *lock);

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
DWORD SizeofResource(HMODULE module, HRSRC resource);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL loaded);

// ---- multimedia timer --------------------------------------------------

DWORD timeGetTime();

// ---- the program's entry, defined by the system ------------------------

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line,
                   int show);

#endif // _WIN32

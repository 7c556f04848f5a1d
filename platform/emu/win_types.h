// Windows base types and constants, declared for the Linux build.
//
// The types keep the declarations Windows gives them (DWORD is unsigned long,
// WCHAR is wchar_t), so the same printf formats ("%lu") and the same literals
// (L"...") are right in both builds. Widths differ on LP64 Linux; nothing in
// the product depends on them outside the 32-bit Windows build.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define APIENTRY
#define WINAPIV

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned char UCHAR;
typedef char CHAR;
typedef unsigned short WORD;
typedef unsigned short USHORT;
typedef unsigned int UINT;
typedef long LONG;
typedef unsigned long ULONG;
typedef unsigned long DWORD;
typedef std::uintptr_t ULONG_PTR;
typedef std::intptr_t LONG_PTR;
typedef std::uintptr_t UINT_PTR;
typedef std::intptr_t INT_PTR;
typedef std::size_t SIZE_T;
typedef ULONG_PTR DWORD_PTR;
typedef std::int32_t HRESULT;  // 32 bits as on Windows, so failure codes are negative
typedef wchar_t WCHAR;

typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef void* HLOCAL;
typedef BOOL* LPBOOL;
typedef BYTE* PBYTE;
typedef BYTE* PUCHAR;
typedef DWORD* LPDWORD;
typedef DWORD* PDWORD;
typedef ULONG* PULONG;
typedef LONG* PLONG;
typedef CHAR* LPSTR;
typedef CHAR* PSTR;
typedef const CHAR* LPCSTR;
typedef const CHAR* PCSTR;
typedef WCHAR* LPWSTR;
typedef WCHAR* PWSTR;
typedef const WCHAR* LPCWSTR;
typedef const WCHAR* PCWSTR;

struct HWND__;
typedef HWND__* HWND;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))
#define INVALID_FILE_SIZE (static_cast<DWORD>(0xFFFFFFFF))

#define S_OK (static_cast<HRESULT>(0))
#define E_FAIL (static_cast<HRESULT>(0x80004005U))
#define E_INVALIDARG (static_cast<HRESULT>(0x80070057U))
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xffff))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xffff))
#define MAKELANGID(p, s) ((static_cast<WORD>(s) << 10) | static_cast<WORD>(p))
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01

// System error codes the system can meet.
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NOT_READY 21L
#define ERROR_BAD_COMMAND 22L
#define ERROR_WRITE_FAULT 29L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_FILE_EXISTS 80L
#define ERROR_DISK_FULL 112L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_NO_DATA 232L
#define ERROR_HANDLE_EOF 38L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_DEV_NOT_EXIST 55L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_SEM_TIMEOUT 121L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_BUSY 170L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_OPERATION_ABORTED 995L
#define ERROR_IO_INCOMPLETE 996L
#define ERROR_IO_PENDING 997L
#define ERROR_NOACCESS 998L
#define ERROR_IO_DEVICE 1117L
#define ERROR_DEVICE_NOT_CONNECTED 1167L
#define ERROR_NOT_FOUND 1168L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#define ERROR_INVALID_THREAD_ID 1444L
#define ERROR_NO_SYSTEM_RESOURCES 1450L
#define ERROR_TIMEOUT 1460L
#define WAIT_TIMEOUT 258L
#define ERROR_INVALID_USER_BUFFER 1784L
#define WSAEBADF 10009L

// Files.
#define GENERIC_READ 0x80000000UL
#define GENERIC_WRITE 0x40000000UL
#define FILE_SHARE_READ 0x00000001UL
#define FILE_SHARE_WRITE 0x00000002UL
#define FILE_SHARE_DELETE 0x00000004UL
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_READONLY 0x00000001UL
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010UL
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020UL
#define FILE_ATTRIBUTE_NORMAL 0x00000080UL
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400UL
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000UL
#define FILE_FLAG_OVERLAPPED 0x40000000UL
#define FILE_TYPE_UNKNOWN 0x0000UL
#define FILE_TYPE_DISK 0x0001UL
#define FILE_TYPE_CHAR 0x0002UL
#define FILE_TYPE_PIPE 0x0003UL

// Error texts.
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100UL
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200UL
#define FORMAT_MESSAGE_FROM_STRING 0x00000400UL
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800UL
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000UL

// Local memory.
#define LMEM_FIXED 0x0000U
#define LMEM_ZEROINIT 0x0040U
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

// Code pages.
#define CP_ACP 0U
#define CP_UTF8 65001U
#define MB_ERR_INVALID_CHARS 0x00000008UL

// Shell folders.
#define CSIDL_COMMON_APPDATA 0x0023
#define SHGFP_TYPE_CURRENT 0

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION* LPBY_HANDLE_FILE_INFORMATION;

// Only the members the system touches; Windows wraps Offset/OffsetHigh in a
// union with Pointer, which nothing here uses.
struct OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};
typedef OVERLAPPED* LPOVERLAPPED;

struct GUID {
    unsigned long Data1;
    unsigned short Data2;
    unsigned short Data3;
    unsigned char Data4[8];
};
typedef const GUID* LPCGUID;
typedef const GUID& REFGUID;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
}

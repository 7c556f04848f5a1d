// Kernel32 operations, declared for the Linux build and implemented over
// POSIX files and an emulated handle table.
#pragma once

#include <cstdarg>

#include "platform/emu/win_types.h"

HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE templateFile);
HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                     LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                      LPOVERLAPPED overlapped);
BOOL WINAPI SetEndOfFile(HANDLE file);
DWORD WINAPI GetFileType(HANDLE file);
BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD fileSizeHigh);
BOOL WINAPI CloseHandle(HANDLE object);
// Only all requests of the handle at once: `overlapped` must be null.
BOOL WINAPI CancelIoEx(HANDLE object, LPOVERLAPPED overlapped);

HANDLE WINAPI CreateIoCompletionPort(HANDLE fileHandle, HANDLE existingPort,
                                     ULONG_PTR completionKey, DWORD numberOfConcurrentThreads);
BOOL WINAPI GetQueuedCompletionStatus(HANDLE port, LPDWORD bytesTransferred,
                                      ULONG_PTR* completionKey, LPOVERLAPPED* overlapped,
                                      DWORD milliseconds);
BOOL WINAPI PostQueuedCompletionStatus(HANDLE port, DWORD bytesTransferred, ULONG_PTR completionKey,
                                       LPOVERLAPPED overlapped);
#define INFINITE 0xFFFFFFFFUL

DWORD WINAPI GetCurrentThreadId();

DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD errorCode);

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                            LPSTR buffer, DWORD size, va_list* arguments);

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL WINAPI LocalFree(HLOCAL memory);

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByteStr, int multiByteCount,
                               LPWSTR wideCharStr, int wideCharCount);

#include "platform/emu/kernel32/file_information.h"

#include <cstdint>

namespace emu {
namespace {

// FILETIME counts 100 ns steps since 1601-01-01 UTC.
FILETIME FileTimeOf(const struct timespec& time) {
    const std::uint64_t secondsFrom1601To1970 = 11644473600ULL;
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(time.tv_sec) + secondsFrom1601To1970) * 10000000ULL +
        static_cast<std::uint64_t>(time.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

DWORD AttributesOf(const struct stat& info) {
    DWORD attributes = 0;
    if (S_ISDIR(info.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (S_ISLNK(info.st_mode)) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    if ((info.st_mode & 0222) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

}  // namespace

DWORD FileTypeOf(const struct stat& info) {
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return FILE_TYPE_PIPE;
    if (S_ISCHR(info.st_mode)) return FILE_TYPE_CHAR;
    return FILE_TYPE_DISK;
}

BY_HANDLE_FILE_INFORMATION DescribeFile(const struct stat& info) {
    const auto size = static_cast<std::uint64_t>(info.st_size);
    const auto index = static_cast<std::uint64_t>(info.st_ino);
    BY_HANDLE_FILE_INFORMATION described{};
    described.dwFileAttributes = AttributesOf(info);
    described.ftCreationTime = FileTimeOf(info.st_ctim);  // POSIX keeps no birth time here
    described.ftLastAccessTime = FileTimeOf(info.st_atim);
    described.ftLastWriteTime = FileTimeOf(info.st_mtim);
    described.dwVolumeSerialNumber = static_cast<DWORD>(info.st_dev & 0xFFFFFFFFu);
    described.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    described.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    described.nNumberOfLinks = static_cast<DWORD>(info.st_nlink);
    described.nFileIndexHigh = static_cast<DWORD>(index >> 32);
    described.nFileIndexLow = static_cast<DWORD>(index & 0xFFFFFFFFu);
    return described;
}

}  // namespace emu

// What Windows tells of a file, derived from what POSIX tells of it.
#pragma once

#include <sys/stat.h>

#include "platform/emu/win_types.h"

namespace emu {

// GetFileType's kind: FIFOs and sockets are pipes, character devices are
// character files, everything else is a disk file.
DWORD FileTypeOf(const struct stat& info);

// GetFileInformationByHandle's record: a symbolic link shows as a reparse
// point, the inode as the file index, the device as the volume.
BY_HANDLE_FILE_INFORMATION DescribeFile(const struct stat& info);

}  // namespace emu

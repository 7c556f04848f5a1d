// CreateFile, ReadFile, WriteFile, SetEndOfFile, the file queries and
// CloseHandle over POSIX files.
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/emu/kernel32/devices.h"
#include "platform/emu/faults.h"
#include "platform/emu/kernel32/file_information.h"
#include "platform/emu/kernel32/kernel_api.h"

namespace emu {
namespace {

struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const FileIdentity& other) const {
        return device == other.device && inode == other.inode;
    }
};

struct OpenFile {
    FileIdentity identity;
    DWORD access;
    DWORD share;
};

// Sharing modes are honoured between handles of this process, which is all
// the emulation needs: Windows refuses an open whose access the existing
// handles do not share, or whose sharing refuses their access.
class ShareTable {
  public:
    bool TryAdd(const OpenFile& file) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const OpenFile& open : files_) {
            if (open.identity == file.identity && Conflict(open, file)) return false;
        }
        files_.push_back(file);
        return true;
    }

    void Remove(const OpenFile& file) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = files_.begin(); it != files_.end(); ++it) {
            if (it->identity == file.identity && it->access == file.access &&
                it->share == file.share) {
                files_.erase(it);
                return;
            }
        }
    }

  private:
    static bool Denies(const OpenFile& holder, const OpenFile& other) {
        return ((other.access & GENERIC_READ) != 0 && (holder.share & FILE_SHARE_READ) == 0) ||
               ((other.access & GENERIC_WRITE) != 0 && (holder.share & FILE_SHARE_WRITE) == 0);
    }
    static bool Conflict(const OpenFile& a, const OpenFile& b) {
        return Denies(a, b) || Denies(b, a);
    }

    std::mutex mutex_;
    std::vector<OpenFile> files_;
};

ShareTable& Shares() {
    static ShareTable* table = new ShareTable;  // files may be closed during exit
    return *table;
}

class FileObject : public KernelObject {
  public:
    // `link`: the file is a symbolic link opened as itself (an O_PATH
    // descriptor), the way FILE_FLAG_OPEN_REPARSE_POINT opens a reparse point.
    FileObject(int fd, OpenFile file, bool link) : fd_(fd), file_(file), link_(link) {}
    ~FileObject() override {
        if (fd_ >= 0) ::close(fd_);
    }

    bool Read(void* buffer, DWORD size, DWORD* transferred, DWORD* error) override {
        if (!Allowed(GENERIC_READ, error)) return false;
        ssize_t n;
        do {
            n = ::read(fd_, buffer, size);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            *error = ERROR_IO_DEVICE;
            return false;
        }
        *transferred = static_cast<DWORD>(n);
        return true;
    }

    bool Write(const void* buffer, DWORD size, DWORD* transferred, DWORD* error) override {
        if (!Allowed(GENERIC_WRITE, error)) return false;
        const char* bytes = static_cast<const char*>(buffer);
        DWORD done = 0;
        while (done < size) {
            ssize_t n = ::write(fd_, bytes + done, size - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                *transferred = done;
                *error = errno == ENOSPC  ? ERROR_DISK_FULL
                         : errno == EPIPE ? ERROR_NO_DATA  // the reading end is gone
                                          : ERROR_IO_DEVICE;
                return false;
            }
            done += static_cast<DWORD>(n);
        }
        *transferred = done;
        return true;
    }

    bool Truncate(DWORD* error) override {
        if (!Allowed(GENERIC_WRITE, error)) return false;
        const off_t position = ::lseek(fd_, 0, SEEK_CUR);
        if (position < 0 || ::ftruncate(fd_, position) != 0) {
            *error = errno == EFBIG ? ERROR_DISK_FULL : ERROR_INVALID_FUNCTION;
            return false;
        }
        return true;
    }

    DWORD Type() const override {
        struct stat info;
        return ::fstat(fd_, &info) == 0 ? FileTypeOf(info) : FILE_TYPE_UNKNOWN;
    }

    bool Information(BY_HANDLE_FILE_INFORMATION* information, DWORD* error) override {
        struct stat info;
        if (::fstat(fd_, &info) != 0) {
            *error = ERROR_IO_DEVICE;
            return false;
        }
        *information = DescribeFile(info);
        return true;
    }

    bool Size(std::uint64_t* size, DWORD* error) override {
        struct stat info;
        if (::fstat(fd_, &info) != 0) {
            *error = ERROR_IO_DEVICE;
            return false;
        }
        *size = static_cast<std::uint64_t>(info.st_size);
        return true;
    }

    bool Close(DWORD* error) override {
        Shares().Remove(file_);
        int result = ::close(fd_);
        fd_ = -1;
        if (result != 0 && errno != EINTR) {
            *error = ERROR_INVALID_HANDLE;
            return false;
        }
        return true;
    }

  private:
    // Windows would reach a link's own, empty, data; an O_PATH descriptor
    // has none, so the emulation refuses all data access to a link.
    bool Allowed(DWORD access, DWORD* error) const {
        if ((file_.access & access) != 0 && !link_) return true;
        *error = ERROR_ACCESS_DENIED;
        return false;
    }

    int fd_;
    OpenFile file_;
    bool link_;
};

bool FolderExists(const std::string& path) {
    std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos) return true;  // relative to the current folder
    struct stat info;
    std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

DWORD ErrorFromErrno(int error, const std::string& path) {
    switch (error) {
        case ENOENT:
            return FolderExists(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case ENXIO:  // a FIFO nobody reads: like a pipe without a server instance
            return ERROR_FILE_NOT_FOUND;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        default:  // EACCES, EPERM, EISDIR, EROFS and the rest
            return ERROR_ACCESS_DENIED;
    }
}

// Opening never waits on Windows (a FIFO without a reader would block a
// POSIX open); FILE_FLAG_OPEN_REPARSE_POINT does not follow a final link.
int OpenFlags(DWORD access, DWORD disposition, DWORD attributes, DWORD* error) {
    int flags = O_CLOEXEC | O_NONBLOCK;
    if ((attributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0) flags |= O_NOFOLLOW;
    bool read = (access & GENERIC_READ) != 0, write = (access & GENERIC_WRITE) != 0;
    flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    switch (disposition) {
        case OPEN_EXISTING:
            break;
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            flags |= O_TRUNC;
            break;
        default:
            *error = ERROR_INVALID_PARAMETER;
            return -1;
    }
    return flags;
}

int OpenNoInterrupt(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

struct Opened {
    int fd = -1;
    bool existed = false;  // for OPEN_ALWAYS and CREATE_ALWAYS
    bool link = false;
};

Opened OpenPath(const std::string& path, int flags) {
    Opened opened;
    const bool creates = (flags & O_CREAT) != 0 && (flags & O_EXCL) == 0;
    // Creating exclusively first tells whether the file was there, which
    // Windows reports as ERROR_ALREADY_EXISTS.
    opened.fd = OpenNoInterrupt(path, creates ? flags | O_EXCL : flags);
    if (opened.fd < 0 && creates && errno == EEXIST) {
        opened.existed = true;
        opened.fd = OpenNoInterrupt(path, flags);
    }
    if (opened.fd < 0 && errno == ELOOP && (flags & O_NOFOLLOW) != 0) {
        struct stat info;
        if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
            opened.fd = OpenNoInterrupt(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
            opened.existed = opened.link = opened.fd >= 0;
        }
        if (opened.fd < 0) errno = ELOOP;
    }
    // Reads and writes stay synchronous, as on Windows.
    if (opened.fd >= 0 && !opened.link) {
        ::fcntl(opened.fd, F_SETFL, ::fcntl(opened.fd, F_GETFL) & ~O_NONBLOCK);
    }
    return opened;
}

HANDLE OpenFileObject(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                      DWORD attributes) {
    DWORD error = 0;
    int flags = OpenFlags(access, disposition, attributes, &error);
    if (flags < 0) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    const Opened opened = OpenPath(path, flags);
    if (opened.fd < 0) {
        SetLastError(ErrorFromErrno(errno, path));
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    // A folder opens on POSIX, but not through CreateFile without backup semantics.
    if (::fstat(opened.fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(opened.fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    OpenFile file{{info.st_dev, info.st_ino}, access, share};
    if (!Shares().TryAdd(file)) {
        ::close(opened.fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    const bool reportsExisting = disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS;
    SetLastError(reportsExisting && opened.existed ? ERROR_ALREADY_EXISTS : NO_ERROR);
    return InsertHandle(std::make_shared<FileObject>(opened.fd, file, opened.link));
}

}  // namespace
}  // namespace emu

namespace emu {
namespace {

HANDLE CreateFileOf(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                    DWORD flagsAndAttributes) {
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (IsDevicePath(path)) {
        DWORD error = ERROR_FILE_NOT_FOUND;
        auto device = OpenBusDevice(path, flagsAndAttributes, &error);
        if (!device) {
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        return InsertHandle(std::move(device));
    }
    // Windows allows none of these in a file name; POSIX would open it.
    if (path.find_first_of(L"\"<>|?*") != std::wstring::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    return OpenFileObject(NarrowPath(path), access, share, disposition, flagsAndAttributes);
}

}  // namespace
}  // namespace emu

HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE) {
    if (emu::InjectedFailure("CreateFileW")) return INVALID_HANDLE_VALUE;
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return emu::CreateFileOf(fileName, desiredAccess, shareMode, creationDisposition,
                             flagsAndAttributes);
}

// Faults are counted apart from CreateFileW's: they are separate functions.
HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE) {
    if (emu::InjectedFailure("CreateFileA")) return INVALID_HANDLE_VALUE;
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return emu::CreateFileOf(emu::WidePath(fileName), desiredAccess, shareMode, creationDisposition,
                             flagsAndAttributes);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                     LPOVERLAPPED overlapped) {
    if (emu::InjectedFailure("ReadFile")) return FALSE;
    if (bytesRead != nullptr) *bytesRead = 0;
    auto object = emu::LookupHandle(file);
    if (!object) return FALSE;
    if (overlapped != nullptr || (buffer == nullptr && bytesToRead != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);  // synchronous reads only
        return FALSE;
    }
    DWORD transferred = 0, error = 0;
    if (!object->Read(buffer, bytesToRead, &transferred, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (bytesRead != nullptr) *bytesRead = transferred;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                      LPOVERLAPPED overlapped) {
    if (emu::InjectedFailure("WriteFile")) return FALSE;
    if (bytesWritten != nullptr) *bytesWritten = 0;
    auto object = emu::LookupHandle(file);
    if (!object) return FALSE;
    if (overlapped != nullptr || (buffer == nullptr && bytesToWrite != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);  // synchronous writes only
        return FALSE;
    }
    DWORD transferred = 0, error = 0;
    const bool written = object->Write(buffer, bytesToWrite, &transferred, &error);
    if (bytesWritten != nullptr) *bytesWritten = transferred;
    if (!written) SetLastError(error);
    return written ? TRUE : FALSE;
}

BOOL WINAPI SetEndOfFile(HANDLE file) {
    if (emu::InjectedFailure("SetEndOfFile")) return FALSE;
    auto object = emu::LookupHandle(file);
    if (!object) return FALSE;
    DWORD error = 0;
    if (!object->Truncate(&error)) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetFileType(HANDLE file) {
    auto object = emu::LookupHandle(file);
    if (!object) return FILE_TYPE_UNKNOWN;
    // FILE_TYPE_UNKNOWN of a valid handle is told apart by NO_ERROR.
    SetLastError(NO_ERROR);
    return object->Type();
}

BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
    if (emu::InjectedFailure("GetFileInformationByHandle")) return FALSE;
    auto object = emu::LookupHandle(file);
    if (!object) return FALSE;
    if (information == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    DWORD error = 0;
    if (!object->Information(information, &error)) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD fileSizeHigh) {
    if (emu::InjectedFailure("GetFileSize")) return INVALID_FILE_SIZE;
    auto object = emu::LookupHandle(file);
    if (!object) return INVALID_FILE_SIZE;
    std::uint64_t size = 0;
    DWORD error = 0;
    if (!object->Size(&size, &error)) {
        SetLastError(error);
        return INVALID_FILE_SIZE;
    }
    if (fileSizeHigh != nullptr) *fileSizeHigh = static_cast<DWORD>(size >> 32);
    // A size whose low part looks like the failure value is told apart by
    // a last-error code of NO_ERROR, as on Windows.
    SetLastError(NO_ERROR);
    return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL WINAPI CancelIoEx(HANDLE object, LPOVERLAPPED overlapped) {
    if (emu::InjectedFailure("CancelIoEx")) return FALSE;
    auto found = emu::LookupHandle(object);
    if (found == nullptr) return FALSE;  // ERROR_INVALID_HANDLE, set by the lookup
    if (overlapped != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);  // not needed by the program
        return FALSE;
    }
    DWORD error = 0;
    if (!found->CancelIo(&error)) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
    if (emu::InjectedFailure("CloseHandle")) return FALSE;
    auto removed = emu::RemoveHandle(object);
    if (!removed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD error = 0;
    if (!removed->Close(&error)) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

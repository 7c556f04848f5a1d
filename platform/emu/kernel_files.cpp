// CreateFileW, ReadFile, GetFileSize and CloseHandle over POSIX files.
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/emu/devices.h"
#include "platform/emu/faults.h"
#include "platform/emu/kernel_api.h"

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
    FileObject(int fd, OpenFile file) : fd_(fd), file_(file) {}
    ~FileObject() override {
        if (fd_ >= 0) ::close(fd_);
    }

    bool Read(void* buffer, DWORD size, DWORD* transferred, DWORD* error) override {
        if ((file_.access & GENERIC_READ) == 0) {
            *error = ERROR_ACCESS_DENIED;
            return false;
        }
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
    int fd_;
    OpenFile file_;
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

int OpenFlags(DWORD access, DWORD disposition, DWORD* error) {
    int flags = O_CLOEXEC;
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

HANDLE OpenFileObject(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    DWORD error = 0;
    int flags = OpenFlags(access, disposition, &error);
    if (flags < 0) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno, path));
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    // A folder opens on POSIX, but not through CreateFile without backup semantics.
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    OpenFile file{{info.st_dev, info.st_ino}, access, share};
    if (!Shares().TryAdd(file)) {
        ::close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    return InsertHandle(std::make_shared<FileObject>(fd, file));
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
    std::wstring path(fileName);
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (emu::IsDevicePath(path)) {
        DWORD error = ERROR_FILE_NOT_FOUND;
        auto device = emu::OpenDevice(path, desiredAccess, flagsAndAttributes, &error);
        if (!device) {
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        return emu::InsertHandle(std::move(device));
    }
    // Windows allows none of these in a file name; POSIX would open it.
    if (path.find_first_of(L"\"<>|?*") != std::wstring::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    return emu::OpenFileObject(emu::NarrowPath(path), desiredAccess, shareMode,
                               creationDisposition);
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

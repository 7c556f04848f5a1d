// The emulated kernel's file operations fail with the codes Windows gives.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "platform/emu/control.h"
#include "platform/win32.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wide_text.h"

namespace {

HANDLE OpenForReading(const std::string& path, DWORD share = FILE_SHARE_READ) {
    return CreateFileW(Wide(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// As the log opens its file: for writing, without following a final link.
HANDLE OpenAlwaysNoFollow(const std::string& path) {
    return CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

BY_HANDLE_FILE_INFORMATION Information(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    EXPECT_TRUE(GetFileInformationByHandle(file, &info));
    return info;
}

class KernelFiles : public testing::Test {
  protected:
    void SetUp() override { emu::ClearFaults(); }
    void TearDown() override { emu::ClearFaults(); }
    TempFolder folder;
};

TEST_F(KernelFiles, OpenFailuresCarryTheWindowsCodes) {
    MakeFolders(folder / "sub");
    struct Case {
        std::string path;
        DWORD error;
    } cases[] = {
        {folder / "missing.plt", ERROR_FILE_NOT_FOUND},
        {folder / "no-such-folder/file.plt", ERROR_PATH_NOT_FOUND},
        {folder / "sub", ERROR_ACCESS_DENIED},
        {"", ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(OpenForReading(c.path), INVALID_HANDLE_VALUE) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
    // A name Windows cannot hold is refused even where POSIX has such a file.
    for (const char c : std::string("\"<>|?*")) {
        const std::string path = folder / (std::string("a") + c + ".plt");
        WriteWholeFile(path, "x");
        SetLastError(0);
        EXPECT_EQ(OpenForReading(path), INVALID_HANDLE_VALUE) << path;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME)) << path;
    }
}

TEST_F(KernelFiles, UnreadableFileIsAccessDenied) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    WriteWholeFile(folder / "secret", "x");
    chmod((folder / "secret").c_str(), 0);
    EXPECT_EQ(OpenForReading(folder / "secret"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(KernelFiles, ReadsInChunksAndReportsEndWithZeroBytes) {
    WriteWholeFile(folder / "job.plt", std::string(1500, 'a'));
    HANDLE file = OpenForReading(folder / "job.plt");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(file, nullptr), 1500u);

    char buffer[1024];
    DWORD read = 99;
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 1024u);
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 476u);
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(CloseHandle(file));
}

TEST_F(KernelFiles, ClosedHandlesAreInvalid) {
    WriteWholeFile(folder / "job.plt", "abc");
    const std::size_t before = emu::OpenHandleCount();
    HANDLE file = OpenForReading(folder / "job.plt");
    EXPECT_EQ(emu::OpenHandleCount(), before + 1);
    ASSERT_TRUE(CloseHandle(file));
    EXPECT_EQ(emu::OpenHandleCount(), before);

    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    char c;
    DWORD read = 0;
    EXPECT_FALSE(ReadFile(file, &c, 1, &read, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetFileSize(file, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(KernelFiles, SharingModesAreHonoured) {
    const std::string path = folder / "job.plt";
    WriteWholeFile(path, "abc");
    HANDLE reader = OpenForReading(path);  // shares reading only
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);

    HANDLE secondReader = OpenForReading(path);
    EXPECT_NE(secondReader, INVALID_HANDLE_VALUE);
    HANDLE writer = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    CloseHandle(secondReader);
    CloseHandle(reader);
    writer = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    CloseHandle(writer);
}

TEST_F(KernelFiles, InjectedFailureHitsExactlyTheNthCall) {
    const std::string path = folder / "job.plt";
    WriteWholeFile(path, "abc");
    emu::FailCall("CreateFileW", 2, ERROR_SHARING_VIOLATION);

    HANDLE first = OpenForReading(path);
    HANDLE second = OpenForReading(path);
    DWORD secondError = GetLastError();
    HANDLE third = OpenForReading(path);

    EXPECT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(secondError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_NE(third, INVALID_HANDLE_VALUE);
    EXPECT_EQ(emu::CallCount("CreateFileW"), 3u);
    CloseHandle(first);
    CloseHandle(third);
}

TEST_F(KernelFiles, OpenAlwaysSaysWhetherTheFileWasThere) {
    HANDLE created = OpenAlwaysNoFollow(folder / "log");
    ASSERT_NE(created, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    HANDLE opened = OpenAlwaysNoFollow(folder / "log");
    ASSERT_NE(opened, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(opened);
    CloseHandle(created);
}

TEST_F(KernelFiles, ReparsePointFlagOpensTheLinkItself) {
    WriteWholeFile(folder / "target", "kept");
    ASSERT_EQ(symlink((folder / "target").c_str(), (folder / "link").c_str()), 0);
    HANDLE link = OpenAlwaysNoFollow(folder / "link");
    ASSERT_NE(link, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(GetFileType(link), FILE_TYPE_DISK);
    EXPECT_EQ(Information(link).dwFileAttributes, FILE_ATTRIBUTE_REPARSE_POINT);
    DWORD written = 9;
    EXPECT_FALSE(WriteFile(link, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(SetEndOfFile(link));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(link);
    EXPECT_EQ(ReadWholeFile(folder / "target"), "kept");
}

TEST_F(KernelFiles, HardLinkCountsItsNames) {
    WriteWholeFile(folder / "target", "kept");
    ASSERT_EQ(link((folder / "target").c_str(), (folder / "second").c_str()), 0);
    HANDLE file = OpenAlwaysNoFollow(folder / "second");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const BY_HANDLE_FILE_INFORMATION info = Information(file);
    EXPECT_EQ(info.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(info.nNumberOfLinks, 2u);
    EXPECT_EQ(info.nFileSizeLow, 4u);
    CloseHandle(file);
    EXPECT_EQ(ReadWholeFile(folder / "target"), "kept");
}

TEST_F(KernelFiles, FifoOpensWithoutWaitingAndIsAPipe) {
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(OpenAlwaysNoFollow(folder / "fifo"), INVALID_HANDLE_VALUE);  // nobody reads
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    const int reader = open((folder / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    HANDLE writer = OpenAlwaysNoFollow(folder / "fifo");
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileType(writer), FILE_TYPE_PIPE);
    CloseHandle(writer);
    close(reader);
}

TEST_F(KernelFiles, SetEndOfFileCutsAtThePosition) {
    WriteWholeFile(folder / "log", "old records");
    HANDLE file = OpenAlwaysNoFollow(folder / "log");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetEndOfFile(file));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "new\r\n", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(ReadWholeFile(folder / "log"), "new\r\n");
    CloseHandle(file);

    HANDLE reader = OpenForReading(folder / "log", FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_FALSE(WriteFile(reader, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(SetEndOfFile(reader));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(reader);
}

TEST_F(KernelFiles, LastErrorBelongsToEachThread) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    DWORD seenByOther = 1234;
    std::thread other([&] {
        seenByOther = GetLastError();
        SetLastError(ERROR_ACCESS_DENIED);
    });
    other.join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace

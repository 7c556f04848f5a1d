// The virtual cutters of the Windows test variant and the bus they sit on.
//
// A cutter is configured like the Linux emulation's: EMU_USB_DEVICES lists
// them, separated by ';', each as "vendor:product:serial:port[:file]" (IDs in
// hexadecimal, port a number; the file, a Windows path, receives every
// byte). EMU_USB_DELAYS makes cutters slow: ';'-separated "port:milliseconds",
// the time the cutter takes before it accepts each write. EMU_FAULTS makes
// calls fail: ','-separated "Function:nth:error[:times]".
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace virtual_usb {

struct CutterConfig {
    USHORT vendorId = 0;
    USHORT productId = 0;
    std::string serial;  // the instance-specific segment of the instance ID
    std::string port;
    std::wstring receiveFile;  // none if empty
    DWORD delayMs = 0;         // before each write is accepted
};

// One cutter: every connection that CreateFileW opens on its interface path
// is a fresh named pipe; the cutter's thread reads the server ends, one
// connection after the other, and appends what arrives to the receiving file.
// A pipe without buffer means a write completes only when the cutter has
// taken its bytes, as on the bus.
class Cutter {
  public:
    Cutter(CutterConfig config, std::size_t ordinal);
    // Takes in whatever the connections still hold, then stops the thread.
    ~Cutter();
    Cutter(const Cutter&) = delete;
    Cutter& operator=(const Cutter&) = delete;

    const CutterConfig& Config() const { return config_; }
    const std::string& InstanceId() const { return instanceId_; }
    const std::wstring& DevicePath() const { return devicePath_; }
    // SPDRP_LOCATION_PATHS: one path, then the empty string ending the list.
    std::string LocationPaths() const;

    // The client end of a new connection, opened with the caller's access
    // and flags; INVALID_HANDLE_VALUE with the last-error code on failure.
    HANDLE Connect(DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD flags);

  private:
    void Serve();
    void Drain(HANDLE server);
    bool Stopping();
    bool AwaitRead(HANDLE server, OVERLAPPED& overlapped);

    const CutterConfig config_;
    const std::size_t ordinal_;
    const std::string instanceId_;
    const std::wstring devicePath_;
    platform::UniqueHandle stopEvent_;  // set once: the process is ending

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<HANDLE> connections_;  // server ends not yet served, owned
    unsigned long connectionCount_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

// The cutters named in the environment, in the order given; read once.
const std::vector<std::shared_ptr<Cutter>>& Cutters();
// The cutter whose interface path is `path` (case does not matter), if any.
std::shared_ptr<Cutter> FindByPath(const wchar_t* path);

// Which cutter a client handle that Connect returned belongs to.
void RememberConnection(HANDLE client, const std::shared_ptr<Cutter>& cutter);
std::shared_ptr<Cutter> CutterOfConnection(HANDLE client);

// Counts a call of `function`; true, with the last-error code set, when
// EMU_FAULTS says this call fails.
bool InjectedFailure(const char* function);

}  // namespace virtual_usb

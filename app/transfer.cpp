#include "app/transfer.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <thread>

#include <boost/system/system_error.hpp>

#include "app/message_box.h"
#include "log/format_text.h"
#include "log/last_error_text.h"
#include "log/logger.h"
#include "platform/unique_handle.h"
#include "resources/resource.h"

namespace {

constexpr DWORD kChunkSize = 1024;
constexpr DWORD kBarEnd = 100;  // the progress bar's range is 0 to 100
// How often the worker runs the I/O service again after it failed.
constexpr int kRunAttempts = 100;
const char kWorkerContext[] = "void __thiscall TransferFile::<lambda_1>::operator ()(void) const";
const char kSendFailed[] = "An error occurred while sending data";
const char kTransferContext[] =
    "bool __cdecl TransferFile(const wchar_t *,class std::shared_ptr<class QUILL::UsbDevice>)";

// Lets the user-interface thread's message loop look at the flags again.
void WakeMessageLoop(HWND dialog) {
    PostMessageW(dialog, WM_NULL, 0, 0);
}

class Transfer;

// Called once per chunk, on the thread that runs the I/O service.
class ChunkCallback {
  public:
    ChunkCallback(const Transfer* owner, std::atomic<bool>* chunkDoneFlag,
                  std::atomic<bool>* abortedFlag, std::atomic<bool>* failedFlag,
                  std::atomic<bool>* positionLostFlag, HWND progressDialog, DWORD chunkPercent)
        : transfer(owner),
          chunkDone(chunkDoneFlag),
          aborted(abortedFlag),
          writeFailed(failedFlag),
          positionLost(positionLostFlag),
          dialog(progressDialog),
          percent(chunkPercent) {}

    void operator()(bool ok) const;

  private:
    const Transfer* transfer;
    std::atomic<bool>* chunkDone;
    std::atomic<bool>* aborted;
    std::atomic<bool>* writeFailed;   // the cutter refused a chunk
    std::atomic<bool>* positionLost;  // a position never reached the dialog
    HWND dialog;
    DWORD percent;
};

// The state of one transfer, from the open file to the cleanup.
class Transfer {
  public:
    Transfer(const WCHAR* filePath, std::shared_ptr<QUILL::UsbDevice> cutter)
        : path(filePath), device(std::move(cutter)) {}
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    bool Run() {
        if (!OpenFile() || !OpenCutter()) return false;
        try {
            if (!StartSending()) return false;
            SendChunks();
        } catch (...) {
            // The cleanup runs whatever was thrown, so no joinable thread is
            // destroyed and the cutter is closed; the caller tells the user.
            aborted = true;
            CleanUp();
            throw;
        }
        return CleanUp();
    }

  private:
    bool OpenFile() {
        file.reset(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            ShowWarning(FormatText("Unable to open the file (%s)", LastErrorText().c_str()));
            return false;
        }
        fileSize = GetFileSize(file.get(), nullptr);
        if (fileSize == 0) {
            file.reset();
            ShowWarning("The selected file is empty");
            return false;
        }
        return true;
    }

    // One retry, at once: a cutter that was just plugged in may refuse the
    // first attempt.
    bool OpenCutter() {
        device->AsyncOpen();
        if (!device->IsOpen()) {
            device->Close();  // does nothing on a closed device
            device->AsyncOpen();
        }
        if (device->IsOpen()) return true;
        file.reset();
        ShowWarning("Unable to estabilish communication with the device");
        return false;
    }

    bool StartSending() {
        dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS),
                                    nullptr, ProgressDialogProc, 0);
        if (dialog == nullptr) {
            // Without the dialog nothing could wake the loop: give up at once.
            CloseCutter();
            file.reset();
            ShowWarning(kSendFailed);
            return false;
        }
        ShowWindow(dialog, SW_SHOW);
        aborted = false;
        boost::asio::io_service& service = device->ioService;
        service.restart();  // a run() of an earlier transfer may have stopped it
        workGuard.reset(new boost::asio::io_service::work(service));
        try {
            worker = std::thread([this, &service] { RunIoService(service); });
        } catch (const std::system_error&) {
            aborted = true;
            ShowWarning(kSendFailed);
        }
        return true;
    }

    // The worker thread's body; nothing may leave it. After a failure it
    // goes on running: the completions still queued (the write that the
    // cleanup's Close ends among them) must reach their callbacks while this
    // transfer lives, not a later run of the service. A service that fails
    // every time is given up, or the thread would never end.
    void RunIoService(boost::asio::io_service& service) noexcept {
        for (int attempt = 0; attempt < kRunAttempts; ++attempt) {
            char what[200] = {};  // copied without allocating: memory may be short
            try {
                service.run();
                return;
            } catch (const std::exception& failure) {
                std::snprintf(what, sizeof what, "%s", failure.what());
            } catch (...) {
                std::snprintf(what, sizeof what, "%s", kUnknownFailure);
            }
            // Outside the handler: a failure while reporting must not end the process.
            if (attempt == 0) ReportWorkerFailure(what);
        }
    }

    // A lost callback would leave the loop waiting: end the transfer.
    void ReportWorkerFailure(const char* what) noexcept {
        aborted = true;
        WakeMessageLoop(dialog);
        try {
            Logger::Instance().Error() << kWorkerContext << " - " << what;
        } catch (...) {
            // The log cannot be created; the user is still told below.
        }
        try {
            ShowWarning(kSendFailed);
        } catch (...) {
            // Not even the box: the exit code still tells.
        }
    }

    void SendChunks() {
        std::uint32_t bytesSent = 0;
        DWORD lastPercent = 0;
        while (!aborted) {
            chunkDone = false;
            DWORD bytesRead = 0;
            if (!ReadFile(file.get(), chunk, kChunkSize, &bytesRead, nullptr)) {
                ShowWarning(FormatText("Unable to read from file (%s)", LastErrorText().c_str()));
                aborted = true;
                return;
            }
            if (bytesRead == 0) {
                ShowLastPosition(lastPercent);
                return;
            }
            bytesSent += bytesRead;
            lastPercent =
                static_cast<DWORD>(static_cast<std::uint64_t>(bytesSent) * 100 / fileSize);
            device->AsyncWrite(chunk, bytesRead,
                               ChunkCallback(this, &chunkDone, &aborted, &writeFailed,
                                             &positionLost, dialog, lastPercent));
            PumpUntil([&] { return chunkDone.load(); });
            if (!aborted) bytesConfirmed += bytesRead;
        }
    }

    // The whole file is sent. A fast cutter completes writes before the loop
    // waits for them, so their progress messages may still be queued: the
    // bar should show the last one before it goes. Any loop may dispatch it,
    // a nested modal one too (the person moving the dialog, a message box),
    // so the bar itself is asked after every dispatch, and a message is
    // waited for only while it still owes that position. The file is sent
    // whatever happens here: the wait ends, without failing the transfer, as
    // soon as the position cannot be shown (not posted, the dialog gone,
    // WM_QUIT).
    void ShowLastPosition(DWORD lastPercent) {
        // A file that grew while it was sent passes 100; the bar stops there.
        const DWORD shown = std::min(lastPercent, kBarEnd);
        while (!positionLost && IsWindow(dialog) && BarPosition() != shown) {
            MSG message;
            const BOOL result = GetMessageW(&message, nullptr, 0, 0);
            if (result == -1) return;
            if (result == 0) {
                PostQuitMessage(static_cast<int>(message.wParam));  // for whoever loops next
                return;
            }
            Dispatch(message);
        }
    }

    // Dispatches the thread's messages until `done` or the transfer is aborted.
    template <typename Done>
    void PumpUntil(Done done) {
        while (!done() && !aborted) {
            MSG message;
            const BOOL result = GetMessageW(&message, nullptr, 0, 0);
            if (result == 0 || result == -1) {
                aborted = true;  // WM_QUIT: the dialog was closed
                continue;
            }
            Dispatch(message);
        }
    }

    DWORD BarPosition() const {
        return static_cast<DWORD>(SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0));
    }

    void Dispatch(MSG& message) {
        if (!(IsWindow(dialog) && IsDialogMessageW(dialog, &message))) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    // Closing the cutter also ends a write still in flight.
    bool CloseCutter() {
        try {
            device->Close();
            return true;
        } catch (const boost::system::system_error&) {
            return false;
        }
    }

    bool CleanUp() {
        const bool closed = CloseCutter();
        if (IsWindow(dialog)) DestroyWindow(dialog);
        workGuard.reset();  // run() returns once the last write has completed
        if (worker.joinable()) worker.join();
        file.reset();
        if (!closed && !aborted) {
            // Whether the cutter got everything is unknown: never report success.
            ShowWarning(kSendFailed);
            return false;
        }
        return !aborted;
    }

  public:
    // Why the cutter stopped, and how far it got: one record per transfer,
    // written on the worker as soon as the failed write completes, before
    // the user is told. The user-interface thread is waiting for that
    // write meanwhile, so what it counted stands still.
    void LogFailedWrite() const {
        const QUILL::UsbDevice::WriteOutcome outcome = device->LastWrite();
        const auto sent = static_cast<unsigned long>(bytesConfirmed + outcome.accepted);
        try {
            Logger::Instance().Error()
                << kTransferContext << " - "
                << (outcome.error == 0
                        // The write completed without an error but short: no WinUSB failure.
                        ? FormatText("The cutter took no more bytes after %lu of %lu bytes", sent,
                                     fileSize)
                        : FormatText("WinUsb_WritePipe failed (%lu) after %lu of %lu bytes (%s)",
                                     outcome.error, sent, fileSize,
                                     ErrorText(outcome.error).c_str()));
        } catch (...) {
            // The log cannot be created; the user is still told.
        }
    }

  private:
    const WCHAR* path;
    std::shared_ptr<QUILL::UsbDevice> device;
    platform::UniqueHandle file;
    DWORD fileSize = 0;
    HWND dialog = nullptr;
    // Lives until the cleanup: a write that Cancel leaves in flight still
    // reads it until Close has ended it.
    unsigned char chunk[kChunkSize] = {};
    std::atomic<bool> chunkDone{false};
    std::atomic<bool> aborted{false};
    std::atomic<bool> writeFailed{false};
    std::atomic<bool> positionLost{false};
    std::uint32_t bytesConfirmed = 0;  // of the chunks the cutter took whole
    std::unique_ptr<boost::asio::io_service::work> workGuard;
    std::thread worker;
};

void ChunkCallback::operator()(bool ok) const {
    if (ok || *chunkDone || *aborted) {
        *chunkDone = true;  // before the post: the woken loop must see it
        if (!PostMessageW(dialog, WM_SETPROGRESS, percent, 0)) *positionLost = true;
        return;
    }
    // The transfer ends now: the user-interface thread is woken before
    // the message box, which waits for the user.
    *writeFailed = true;
    *aborted = true;
    transfer->LogFailedWrite();
    DestroyWindow(dialog);  // only the dialog's own thread can; the cleanup does it otherwise
    WakeMessageLoop(dialog);
    ShowWarning(kSendFailed);
}

}  // namespace

bool TransferFile(const WCHAR* path, std::shared_ptr<QUILL::UsbDevice> device) {
    return Transfer(path, std::move(device)).Run();
}

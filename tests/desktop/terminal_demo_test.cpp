// The terminal desktop as a person meets it: the demo program runs on a
// pseudo-terminal and is driven by keys, as through tmux.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "tests/support/temp_folder.h"

namespace {

class Terminal {
  public:
    explicit Terminal(const std::string& holdAt) {
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            setenv("EMU_DESKTOP", "terminal", 1);
            execl(DIALOG_DEMO_PATH, DIALOG_DEMO_PATH, "--hold-at", holdAt.c_str(), nullptr);
            _exit(127);
        }
    }
    ~Terminal() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
    }

    bool Started() const { return pid_ > 0; }

    // Reads the screen until `text` shows after what was already matched; a
    // generous limit only keeps a broken program from hanging the test.
    bool WaitFor(const std::string& text) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (screen_.find(text, matched_) == std::string::npos) {
            if (std::chrono::steady_clock::now() > limit || !ReadSome()) return false;
        }
        matched_ = screen_.find(text, matched_) + text.size();
        return true;
    }

    void Type(const std::string& keys) { (void)!write(master_, keys.data(), keys.size()); }

    int ExitCode() {
        while (ReadSome()) {
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const std::string& Screen() const { return screen_; }

  private:
    bool ReadSome() {
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, 1000) < 0) return false;
        if ((fd.revents & (POLLIN | POLLHUP)) == 0) return true;
        char buffer[4096];
        ssize_t got = read(master_, buffer, sizeof buffer);
        if (got <= 0) return false;  // the program ended
        screen_.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    pid_t pid_ = -1;
    int master_ = -1;
    bool reaped_ = false;
    std::string screen_;
    std::size_t matched_ = 0;
};

TEST(TerminalDesktop, PersonChoosesAFileAnOutputThenCancelsTheTransfer) {
    TempFolder folder;
    WriteWholeFile(folder / "job.plt", "IN;");
    Terminal terminal("50");
    ASSERT_TRUE(terminal.Started());

    ASSERT_TRUE(terminal.WaitFor("== Send to Cutter Utility ==")) << terminal.Screen();
    ASSERT_TRUE(terminal.WaitFor("Output:")) << terminal.Screen();
    ASSERT_TRUE(terminal.WaitFor("Enter: Send   r: Refresh   c or Esc: Cancel"))
        << terminal.Screen();
    terminal.Type("2\r");
    ASSERT_TRUE(terminal.WaitFor("  > 2) Demo cutter B")) << terminal.Screen();
    // Back to back: the second choice is its entry, not a move counted from
    // a selection the first has not changed yet.
    terminal.Type("1\r2\r");

    terminal.Type((folder / "missing.plt") + "\r");
    ASSERT_TRUE(terminal.WaitFor("missing.plt: File not found.")) << terminal.Screen();
    terminal.Type((folder / "job.plt") + "\r");

    ASSERT_TRUE(terminal.WaitFor("The file is being sent to the cutter")) << terminal.Screen();
    ASSERT_TRUE(terminal.WaitFor("] 50%")) << terminal.Screen();
    terminal.Type("\x1b");
    ASSERT_TRUE(terminal.WaitFor("[bladepost]")) << terminal.Screen();
    ASSERT_TRUE(terminal.WaitFor("Cancelled.")) << terminal.Screen();
    terminal.Type("\r");
    EXPECT_EQ(terminal.ExitCode(), 1);
    EXPECT_NE(terminal.Screen().find("chosen: " + (folder / "job.plt") + ", output 2"),
              std::string::npos);
}

TEST(TerminalDesktop, CtrlCCancelsTheFileDialog) {
    Terminal terminal("100");
    ASSERT_TRUE(terminal.Started());
    ASSERT_TRUE(terminal.WaitFor("> ")) << terminal.Screen();
    terminal.Type("\x03");
    EXPECT_EQ(terminal.ExitCode(), 2);
}

}  // namespace

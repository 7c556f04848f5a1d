#include "platform/emu/desktops/terminal/terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/emu/user32/interrupts.h"

namespace emu {
namespace {

struct Tty {
    int in = 0;
    int out = 1;
    bool raw = false;
    termios saved{};
    std::mutex mutex;  // guards receiver and writes
    std::function<void(const Key&)> receiver;
};

Tty& TheTty() {
    static Tty* tty = new Tty;  // the reading thread outlives static destruction
    return *tty;
}

void Restore() {
    RestoreTerminal();
}

// Keys come one at a time, without echo; Ctrl-C arrives as a key too, since
// the desktop decides what it means.
void EnterRawMode(Tty& tty) {
    if (!isatty(tty.in) || tcgetattr(tty.in, &tty.saved) != 0) return;
    termios raw = tty.saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(tty.in, TCSANOW, &raw) != 0) return;
    tty.raw = true;
    std::atexit(Restore);
    OnSignalExit(Restore);
}

void Deliver(const Key& key) {
    Tty& tty = TheTty();
    std::function<void(const Key&)> receiver;
    {
        std::lock_guard<std::mutex> lock(tty.mutex);
        receiver = tty.receiver;
    }
    if (receiver) receiver(key);
}

std::size_t Utf8Length(unsigned char lead) {
    return lead < 0x80         ? 1
           : (lead >> 5) == 6  ? 2
           : (lead >> 4) == 14 ? 3
           : (lead >> 3) == 30 ? 4
                               : 1;
}

// Turns one read's bytes into keys. A lone escape byte is the Escape key; an
// escape followed by more bytes in the same read is a cursor or function key
// sequence, which nothing here uses.
void Decode(const unsigned char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count;) {
        const unsigned char b = bytes[i];
        Key key;
        if (b == 0x1b && i + 1 < count) {
            i += 2;
            while (i < count && !(bytes[i] >= 0x40 && bytes[i] <= 0x7e)) ++i;
            ++i;
            continue;
        }
        std::size_t length = 1;
        if (b == 0x1b)
            key.kind = Key::Kind::Escape;
        else if (b == 0x03)
            key.kind = Key::Kind::Interrupt;
        else if (b == '\r' || b == '\n')
            key.kind = Key::Kind::Enter;
        else if (b == 0x7f || b == 0x08)
            key.kind = Key::Kind::Backspace;
        else if (b < 0x20)
            length = 0;  // other control keys mean nothing here
        else {
            key.kind = Key::Kind::Char;
            length = std::min(Utf8Length(b), count - i);
            unsigned long code = length == 1 ? b : (b & (0x7f >> length));
            for (std::size_t k = 1; k < length; ++k) code = (code << 6) | (bytes[i + k] & 0x3f);
            key.c = static_cast<wchar_t>(code);
        }
        if (b == '\r' && i + 1 < count && bytes[i + 1] == '\n') ++i;
        i += length == 0 ? 1 : length;
        if (length != 0) Deliver(key);
    }
}

void ReadKeys() {
    Tty& tty = TheTty();
    unsigned char buffer[256];
    for (;;) {
        ssize_t got = ::read(tty.in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        Decode(buffer, static_cast<std::size_t>(got));
    }
    Deliver(Key{});
}

}  // namespace

void StartTerminal(std::function<void(const Key&)> receiver) {
    Tty& tty = TheTty();
    static std::once_flag started;
    {
        std::lock_guard<std::mutex> lock(tty.mutex);
        tty.receiver = std::move(receiver);
    }
    std::call_once(started, [&tty] {
        int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) tty.in = tty.out = fd;
        EnterRawMode(tty);
        std::thread(ReadKeys).detach();  // blocked in read until the process ends
    });
}

void RestoreTerminal() {
    Tty& tty = TheTty();
    if (tty.raw) tcsetattr(tty.in, TCSANOW, &tty.saved);
}

void WriteTerminal(const std::string& text) {
    Tty& tty = TheTty();
    std::lock_guard<std::mutex> lock(tty.mutex);
    const std::string& out = text;  // raw mode keeps output processing: \n ends a line
    for (std::size_t done = 0; done < out.size();) {
        ssize_t wrote = ::write(tty.out, out.data() + done, out.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return;
        done += static_cast<std::size_t>(wrote);
    }
}

}  // namespace emu

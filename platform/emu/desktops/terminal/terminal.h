// The process's terminal, for the terminal desktop: raw keyboard input read
// by a thread of its own, and output written in one piece per call.
#pragma once

#include <functional>
#include <string>

namespace emu {

struct Key {
    enum class Kind { Char, Enter, Backspace, Escape, Interrupt, End };
    Kind kind = Kind::End;
    wchar_t c = 0;  // Kind::Char
};

// Starts reading keys, once per process; later calls only change where the
// keys go. The controlling terminal (/dev/tty) is used when there is one,
// else standard input and output. End arrives once, when input ends.
void StartTerminal(std::function<void(const Key&)> receiver);
void WriteTerminal(const std::string& text);
// Gives the terminal back its own modes (also done at exit).
void RestoreTerminal();

}  // namespace emu

#include "app/command_line.h"

#include <cwchar>
#include <string>

#include "app/message_box.h"
#include "log/format_text.h"
#include "log/last_error_text.h"

namespace {

// The name inside one pair of quotes that make up the whole command line,
// spaces around them allowed; else the command line as it is. A path never
// holds a quote, so no name that can be opened changes.
std::wstring Unquoted(const std::wstring& commandLine) {
    const std::size_t first = commandLine.find_first_not_of(L' ');
    if (first == std::wstring::npos || commandLine[first] != L'"') return commandLine;
    const std::size_t last = commandLine.find_last_not_of(L' ');
    if (last == first || commandLine[last] != L'"') return commandLine;
    const std::wstring inside = commandLine.substr(first + 1, last - first - 1);
    return inside.find(L'"') == std::wstring::npos ? inside : commandLine;
}

}  // namespace

bool TakeCommandLine(const WCHAR* commandLine, WCHAR (&fileName)[MAX_PATH]) {
    const std::wstring name = Unquoted(commandLine);
    if (name.size() >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        ShowWarning(FormatText("Unable to open the file (%s)", LastErrorText().c_str()));
        return false;
    }
    std::wmemcpy(fileName, name.c_str(), name.size() + 1);
    return true;
}

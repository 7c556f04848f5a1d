// wsprintfW: the user32 formatter, which knows fewer conversions than the C
// runtime's (no floating point) and writes at most 1024 characters.
#include <cstdarg>
#include <string>

#include "platform/emu/faults.h"
#include "platform/emu/user32/user_api.h"

namespace {

constexpr std::size_t kLimit = 1024;  // characters, terminator included

struct Field {
    bool left = false;
    bool zero = false;
    bool prefix = false;  // '#': 0x before hexadecimal
    bool isLong = false;
    bool isShort = false;
    std::size_t width = 0;
    std::size_t precision = static_cast<std::size_t>(-1);
};

std::wstring Number(unsigned long value, unsigned base, bool upper) {
    const wchar_t* digits = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring out;
    do {
        out.insert(out.begin(), digits[value % base]);
        value /= base;
    } while (value != 0);
    return out;
}

std::wstring Pad(std::wstring body, const Field& field, bool numeric) {
    if (body.size() >= field.width) return body;
    const std::size_t fill = field.width - body.size();
    if (field.left) return body + std::wstring(fill, L' ');
    if (field.zero && numeric) {
        const std::size_t at = !body.empty() && body[0] == L'-' ? 1 : 0;
        return body.insert(at, std::wstring(fill, L'0'));
    }
    return std::wstring(fill, L' ') + body;
}

std::wstring Integer(wchar_t conversion, const Field& field, va_list& args) {
    if (conversion == L'd' || conversion == L'i') {
        long value = field.isLong ? va_arg(args, long) : va_arg(args, int);
        if (field.isShort) value = static_cast<short>(value);
        std::wstring digits = Number(
            value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value),
            10, false);
        return value < 0 ? L"-" + digits : digits;
    }
    unsigned long value = field.isLong ? va_arg(args, unsigned long) : va_arg(args, unsigned int);
    if (field.isShort) value = static_cast<unsigned short>(value);
    if (conversion == L'u') return Number(value, 10, false);
    std::wstring digits = Number(value, 16, conversion == L'X');
    if (field.prefix && value != 0) return (conversion == L'X' ? L"0X" : L"0x") + digits;
    return digits;
}

std::wstring Text(wchar_t conversion, const Field& field, va_list& args) {
    std::wstring text;
    if (conversion == L's') {
        const wchar_t* wide = va_arg(args, const wchar_t*);
        text = wide == nullptr ? L"(null)" : wide;
    } else {  // 'S': a narrow text in wsprintfW
        const char* narrow = va_arg(args, const char*);
        for (const char* p = narrow == nullptr ? "(null)" : narrow; *p != '\0'; ++p) {
            text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
        }
    }
    if (field.precision < text.size()) text.resize(field.precision);
    return text;
}

const wchar_t* ParseField(const wchar_t* p, Field* field) {
    for (;; ++p) {
        if (*p == L'-')
            field->left = true;
        else if (*p == L'0')
            field->zero = true;
        else if (*p == L'#')
            field->prefix = true;
        else
            break;
    }
    while (*p >= L'0' && *p <= L'9') field->width = field->width * 10 + (*p++ - L'0');
    if (*p == L'.') {
        field->precision = 0;
        for (++p; *p >= L'0' && *p <= L'9'; ++p)
            field->precision = field->precision * 10 + (*p - L'0');
    }
    if (*p == L'l')
        field->isLong = true, ++p;
    else if (*p == L'h')
        field->isShort = true, ++p;
    return p;
}

}  // namespace

int WINAPIV wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    if (emu::InjectedFailure("wsprintfW")) return 0;
    va_list args;
    va_start(args, format);
    std::wstring out;
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        if (*p != L'%') {
            out.push_back(*p);
            continue;
        }
        Field field;
        p = ParseField(p + 1, &field);
        const wchar_t conversion = *p;
        if (conversion == L'\0') break;
        if (conversion == L'%') {
            out.push_back(L'%');
        } else if (conversion == L'c' || conversion == L'C') {
            out += Pad(std::wstring(1, static_cast<wchar_t>(va_arg(args, int))), field, false);
        } else if (conversion == L's' || conversion == L'S') {
            out += Pad(Text(conversion, field, args), field, false);
        } else if (std::wstring(L"diuxX").find(conversion) != std::wstring::npos) {
            out += Pad(Integer(conversion, field, args), field, true);
        } else {
            out.push_back(conversion);  // unknown conversions print as themselves
        }
    }
    va_end(args);
    if (out.size() > kLimit - 1) out.resize(kLimit - 1);
    out.copy(buffer, out.size());
    buffer[out.size()] = L'\0';
    return static_cast<int>(out.size());
}

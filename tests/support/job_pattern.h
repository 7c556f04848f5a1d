// The bytes of a test job, in which a lost, repeated or misplaced chunk of
// 1024 shows: byte i is i * 131 + i / 1024 + salt, modulo 256. Jobs salted
// apart show bytes left over from one another too.
#pragma once

#include <cstddef>
#include <string>

inline std::string JobPattern(std::size_t size, std::size_t salt = 0) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131 + i / 1024 + salt) & 0xFF);
    }
    return bytes;
}

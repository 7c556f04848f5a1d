// The two levels of a diagnostic record.
#pragma once

enum class LogLevel { Error, Warning };

// The tag a record of `level` carries after its timestamp.
inline const char* LevelTag(LogLevel level) {
    return level == LogLevel::Error ? "[error]: " : "[warning]: ";
}

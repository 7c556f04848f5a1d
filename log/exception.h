// The exception the USB library throws after it has logged a fatal failure.
#pragma once

#include <stdexcept>
#include <string>

namespace QUILL {

class Exception : public std::runtime_error {
  public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace QUILL

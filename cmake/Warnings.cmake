# Warnings are errors in every build.
add_library(bladepost_warnings INTERFACE)
target_compile_options(bladepost_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Wcast-align -Wnull-dereference -Werror)

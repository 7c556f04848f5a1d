# shellcheck shell=bash
# How each build of scripts/test is configured, by the name of its folder
# under build/, so that a second build of the same commit (scripts/
# reproducible) is configured exactly as the first.
declare -A build_flags=(
  [linux-asan]="-DCMAKE_BUILD_TYPE=Debug -DBLADEPOST_SANITIZE=address,undefined -DBLADEPOST_BENCH=OFF"
  [linux-tsan]="-DCMAKE_BUILD_TYPE=RelWithDebInfo -DBLADEPOST_SANITIZE=thread -DBLADEPOST_BENCH=OFF"
  # Shared with scripts/run, which builds no benchmarks: say so either way.
  [linux-release]="-DCMAKE_BUILD_TYPE=Release -DBLADEPOST_TESTS=OFF -DBLADEPOST_BENCH=ON"
  [win32]="-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release"
  [win64]="-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release"
)
build_names=(linux-asan linux-tsan linux-release win32 win64)

# build_configure SOURCE BINARY NAME: configures BINARY from SOURCE as build
# NAME is; its log goes to BINARY.configure.log, shown when it fails.
build_configure() {
  local flags
  read -r -a flags <<<"${build_flags[$3]}"
  cmake -S "$1" -B "$2" -G Ninja -Wno-dev "${flags[@]}" >"$2.configure.log" 2>&1 ||
    { cat "$2.configure.log"; return 1; }
}

# Boost for the Windows (mingw-w64) build, from scripts/build-boost-windows:
# the headers (Asio etc. are header-only) plus static Boost.Filesystem and the
# Boost.Atomic it depends on when built as C++17. Included by the top-level
# CMakeLists.txt only when WIN32; link targets to bladepost::boost_windows.
include_guard(GLOBAL)

if(NOT BLADEPOST_WINDOWS_BOOST_ROOT)
  message(FATAL_ERROR
    "BLADEPOST_WINDOWS_BOOST_ROOT is not set. Configure with "
    "-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-<triplet>.cmake (which sets it), or "
    "pass -DBLADEPOST_WINDOWS_BOOST_ROOT=<dir> made by scripts/build-boost-windows.")
endif()

set(_bp_boost "${BLADEPOST_WINDOWS_BOOST_ROOT}")
foreach(_bp_file IN ITEMS include/boost/version.hpp lib/libboost_filesystem.a lib/libboost_atomic.a)
  if(NOT EXISTS "${_bp_boost}/${_bp_file}")
    message(FATAL_ERROR
      "Boost for Windows is missing: ${_bp_boost}/${_bp_file} does not exist.\n"
      "Build it with scripts/build-boost-windows (scripts/setup runs it too), "
      "or point -DBLADEPOST_WINDOWS_BOOST_ROOT=<dir> at an existing build.")
  endif()
endforeach()

# A stale or foreign tree would compile against the wrong headers silently.
file(STRINGS "${_bp_boost}/include/boost/version.hpp" _bp_ver
     REGEX "^#define BOOST_LIB_VERSION \"[0-9_]+\"")
if(NOT _bp_ver MATCHES "\"1_81\"")
  message(FATAL_ERROR
    "${_bp_boost} does not hold Boost 1.81 (${_bp_ver}); "
    "rebuild it with scripts/build-boost-windows.")
endif()

add_library(bladepost::boost_windows_atomic STATIC IMPORTED GLOBAL)
set_target_properties(bladepost::boost_windows_atomic PROPERTIES
  IMPORTED_LOCATION "${_bp_boost}/lib/libboost_atomic.a"
  IMPORTED_LINK_INTERFACE_LANGUAGES CXX)

add_library(bladepost::boost_windows STATIC IMPORTED GLOBAL)
set_target_properties(bladepost::boost_windows PROPERTIES
  IMPORTED_LOCATION "${_bp_boost}/lib/libboost_filesystem.a"
  IMPORTED_LINK_INTERFACE_LANGUAGES CXX
  INTERFACE_INCLUDE_DIRECTORIES "${_bp_boost}/include"
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${_bp_boost}/include"
  # BOOST_ALL_NO_LIB: no MSVC-style auto-linking. _WIN32_WINNT: Windows 7, the
  # same value the libraries were built with (scripts/build-boost-windows).
  # NOMINMAX keeps windows.h from breaking std::min/max; WIN32_LEAN_AND_MEAN is
  # deliberately absent because the app needs the full Windows headers.
  INTERFACE_COMPILE_DEFINITIONS
    "BOOST_ALL_NO_LIB;BOOST_FILESYSTEM_STATIC_LINK=1;BOOST_ATOMIC_STATIC_LINK=1;_WIN32_WINNT=0x0601;NOMINMAX"
  # Order matters for static linking: Filesystem needs Atomic and bcrypt
  # (BCryptGenRandom for unique_path); Asio needs ws2_32 and mswsock.
  INTERFACE_LINK_LIBRARIES "bladepost::boost_windows_atomic;bcrypt;ws2_32;mswsock")

unset(_bp_boost)
unset(_bp_file)
unset(_bp_ver)

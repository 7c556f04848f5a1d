# Shared part of cmake/toolchain-<triplet>.cmake: cross-compiling for Windows
# with Debian's mingw-w64 compilers (the -posix variants, so std::thread and
# friends work). The including file sets BLADEPOST_MINGW_TRIPLET and
# CMAKE_SYSTEM_PROCESSOR first. Deliberately no warning flags or project
# options here: those belong to the project, not to the toolchain.

if(NOT BLADEPOST_MINGW_TRIPLET)
  message(FATAL_ERROR "set BLADEPOST_MINGW_TRIPLET before including mingw-common.cmake")
endif()

set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${BLADEPOST_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BLADEPOST_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${BLADEPOST_MINGW_TRIPLET}-windres)

# Where scripts/build-boost-windows installs Boost; it reads the same
# environment variables, so both agree without extra arguments.
if(NOT "$ENV{BLADEPOST_CACHE}" STREQUAL "")
  set(_bladepost_cache "$ENV{BLADEPOST_CACHE}")
elseif(NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(_bladepost_cache "$ENV{XDG_CACHE_HOME}/bladepost")
else()
  set(_bladepost_cache "$ENV{HOME}/.cache/bladepost")
endif()
set(BLADEPOST_WINDOWS_BOOST_ROOT
    "${_bladepost_cache}/boost-1.81-mingw/${BLADEPOST_MINGW_TRIPLET}"
    CACHE PATH "Boost headers + static libraries for ${BLADEPOST_MINGW_TRIPLET} (made by scripts/build-boost-windows)")
unset(_bladepost_cache)

# try_compile() projects re-read this file; hand them an overridden root too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BLADEPOST_WINDOWS_BOOST_ROOT)

# Target headers/libraries come only from the mingw sysroot and the Windows
# Boost; build-time programs come from the host.
set(CMAKE_FIND_ROOT_PATH "/usr/${BLADEPOST_MINGW_TRIPLET}" "${BLADEPOST_WINDOWS_BOOST_ROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

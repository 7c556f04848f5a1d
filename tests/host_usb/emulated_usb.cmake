# The emulated USB devices (umockdev) that the host backend's tests and
# benchmark plug in.
include_guard(GLOBAL)
find_package(PkgConfig REQUIRED)
pkg_check_modules(UMOCKDEV REQUIRED IMPORTED_TARGET umockdev-1.0)
add_library(emulated_usb STATIC ${CMAKE_CURRENT_LIST_DIR}/emulated_usb.cpp)
target_include_directories(emulated_usb PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(emulated_usb PUBLIC PkgConfig::UMOCKDEV PRIVATE bladepost_warnings)

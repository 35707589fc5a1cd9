# The Windows package: the real executable over the Win32 backend of the
# platform boundary, one self-contained file for the windowed subsystem with
# its version information and an elevation manifest. Included from
# CMakeLists.txt when the target is Windows (the windows preset's mingw-w64
# cross build).

# --- The Win32 backend (the only code that includes <windows.h>) ---
file(GLOB ZEV_WIN32_BACKEND_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/src/platform/win32/*.cpp)
# SHA-256 through CNG belongs to the platform layer of every Windows build
# (zev-sim.exe too), not to this backend; the SDK layout checks are compiled
# on their own below.
list(FILTER ZEV_WIN32_BACKEND_SOURCES EXCLUDE REGEX "(sha256_cng|sdk_layout_checks)\\.cpp$")
zev_platform_backend(zev_platform_win32 SOURCES ${ZEV_WIN32_BACKEND_SOURCES}
                     LINKS setupapi user32 advapi32 kernel32)
# The compile-time checks of our names and offsets against the SDK's: built
# with every Windows build, linked into nothing (the SDK headers it reads
# define GUID and property-key data that no program needs).
add_library(zev_sdk_layout_checks OBJECT ${CMAKE_SOURCE_DIR}/src/platform/win32/sdk_layout_checks.cpp)
target_link_libraries(zev_sdk_layout_checks PRIVATE zev_layer_platform)

# --- The package executable ---
set(ZEV_PACKAGE_NAME "ZEV_TQ270c_V${PROJECT_VERSION}_KTW8LMZB")
set(ZEV_VERSION_QUAD_COMMAS
    "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
set(ZEV_VERSION_QUAD_DOTS
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
set(ZEV_MANIFEST_FILE "${CMAKE_BINARY_DIR}/package.manifest")
configure_file(${CMAKE_SOURCE_DIR}/src/app/win32/package.manifest "${ZEV_MANIFEST_FILE}" @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/src/app/win32/package.rc.in
               "${CMAKE_BINARY_DIR}/package.rc" @ONLY)
set_source_files_properties("${CMAKE_BINARY_DIR}/package.rc" PROPERTIES
                            OBJECT_DEPENDS "${ZEV_MANIFEST_FILE}")

# WIN32: the windowed subsystem (-mwindows); -municode: wmain with wide
# arguments.
add_executable(zev_package WIN32 ${CMAKE_SOURCE_DIR}/src/app/main_win32.cpp
                                 "${CMAKE_BINARY_DIR}/package.rc")
set_target_properties(zev_package PROPERTIES OUTPUT_NAME "${ZEV_PACKAGE_NAME}")
target_compile_options(zev_package PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-municode>)
# -s: the shipped file carries no symbols or debug sections (the static
# runtime libraries bring their own).
target_link_options(zev_package PRIVATE -municode $<$<NOT:$<CONFIG:Debug>>:-s>)
target_link_libraries(zev_package PRIVATE zev_core zev_platform_win32 zev_image_digest)

# --- Tests under Wine (the toolchain's CMAKE_CROSSCOMPILING_EMULATOR) ---
if(ZEV_BUILD_TESTS)
  enable_testing()
  # The Win32 backend against the real API.
  file(GLOB ZEV_WIN32_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*_test.cpp)
  add_executable(zev_win32_tests ${ZEV_WIN32_TEST_SOURCES})
  target_link_libraries(zev_win32_tests PRIVATE zev_platform_win32 GTest::gtest GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(zev_win32_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)

  # The package executable as a deployment tool runs it, and zev-sim.exe on
  # the golden scenarios.
  add_test(NAME win32.package_executable
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/win32/check_package.sh
                   $<TARGET_FILE:zev_package> ${ZEV_IMAGE_FILE})
  add_test(NAME win32.golden_scenarios
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/win32/check_golden.sh
                   $<TARGET_FILE:zev-sim> ${CMAKE_SOURCE_DIR})
  set_tests_properties(win32.package_executable win32.golden_scenarios PROPERTIES TIMEOUT 600)
endif()

# --- The Wine rig: the package on an emulated machine under Wine ---
include(${CMAKE_SOURCE_DIR}/cmake/wine_rig.cmake)

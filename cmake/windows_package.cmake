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

# --- Release: signature and bill of materials ---
# The signing key, read from the environment when CMake configures: a PKCS#11
# key (ZEV_SIGNING_PKCS11_MODULE, ZEV_SIGNING_PKCS11_KEY, a pkcs11: URI, and
# the certificate ZEV_SIGNING_CERT) for releases, or a PKCS#12 file
# (ZEV_SIGNING_PFX) for tests and internal CAs; ZEV_SIGNING_PASSWORD_FILE
# holds its password or the token's PIN, and ZEV_TIMESTAMP_URL names an RFC
# 3161 time-stamp authority. None: unsigned. The choice is written to
# package_signing.cmake (values as they are, a URI's ";" included), which the
# link depends on: a new configuration with another key links and signs again.
foreach(var IN ITEMS PKCS11_MODULE PKCS11_KEY CERT PFX PASSWORD_FILE)
  set(ZEV_SIGNING_${var} "$ENV{ZEV_SIGNING_${var}}")
endforeach()
set(ZEV_TIMESTAMP_URL "$ENV{ZEV_TIMESTAMP_URL}")
if(ZEV_SIGNING_PFX AND ZEV_SIGNING_PKCS11_MODULE)
  message(FATAL_ERROR "ZEV_SIGNING_PFX and ZEV_SIGNING_PKCS11_MODULE: choose one signing key")
endif()
if(ZEV_SIGNING_PKCS11_MODULE AND (NOT ZEV_SIGNING_PKCS11_KEY OR NOT ZEV_SIGNING_CERT))
  message(FATAL_ERROR "ZEV_SIGNING_PKCS11_MODULE needs ZEV_SIGNING_PKCS11_KEY (a pkcs11: URI) "
                      "and ZEV_SIGNING_CERT")
endif()
if(ZEV_SIGNING_PKCS11_KEY AND NOT ZEV_SIGNING_PKCS11_KEY MATCHES "^pkcs11:")
  message(FATAL_ERROR "ZEV_SIGNING_PKCS11_KEY must be a pkcs11: URI")
endif()
foreach(var IN ITEMS PFX CERT PASSWORD_FILE)
  if(ZEV_SIGNING_${var})
    get_filename_component(ZEV_SIGNING_${var} "${ZEV_SIGNING_${var}}" ABSOLUTE)
    if(NOT EXISTS "${ZEV_SIGNING_${var}}")
      message(FATAL_ERROR "ZEV_SIGNING_${var}: ${ZEV_SIGNING_${var}} does not exist")
    endif()
  endif()
endforeach()
set(ZEV_SIGNING_SETTINGS)
if(ZEV_SIGNING_PFX)
  message(STATUS "Signing: PKCS#12 ${ZEV_SIGNING_PFX}")
  set(ZEV_SIGNING_SETTINGS PFX PASSWORD_FILE)
elseif(ZEV_SIGNING_PKCS11_MODULE)
  message(STATUS "Signing: PKCS#11 ${ZEV_SIGNING_PKCS11_KEY} (${ZEV_SIGNING_PKCS11_MODULE})")
  set(ZEV_SIGNING_SETTINGS PKCS11_MODULE PKCS11_KEY CERT PASSWORD_FILE)
else()
  message(STATUS "Signing: none, the package is unsigned")
endif()
set(ZEV_SIGNING_FILE_TEXT "# Written by cmake/windows_package.cmake when CMake configures.\n")
foreach(var IN LISTS ZEV_SIGNING_SETTINGS)
  if(ZEV_SIGNING_${var} MATCHES "]==]")
    message(FATAL_ERROR "ZEV_SIGNING_${var} holds \"]==]\"")
  endif()
  string(APPEND ZEV_SIGNING_FILE_TEXT "set(${var} [==[${ZEV_SIGNING_${var}}]==])\n")
endforeach()
if(ZEV_SIGNING_SETTINGS)
  if(ZEV_TIMESTAMP_URL MATCHES "]==]")
    message(FATAL_ERROR "ZEV_TIMESTAMP_URL holds \"]==]\"")
  elseif(ZEV_TIMESTAMP_URL)
    string(APPEND ZEV_SIGNING_FILE_TEXT "set(TIMESTAMP_URL [==[${ZEV_TIMESTAMP_URL}]==])\n")
  else()
    message(WARNING "ZEV_TIMESTAMP_URL is not set: the package's signature will have no time "
                    "stamp and expires with the signing certificate")
  endif()
endif()
set(ZEV_SIGNING_FILE "${CMAKE_BINARY_DIR}/package_signing.cmake")
# Rewritten only when it changes, so that the package is relinked for a new
# choice only.
file(WRITE "${ZEV_SIGNING_FILE}.new" "${ZEV_SIGNING_FILE_TEXT}")
file(COPY_FILE "${ZEV_SIGNING_FILE}.new" "${ZEV_SIGNING_FILE}" ONLY_IF_DIFFERENT)
file(REMOVE "${ZEV_SIGNING_FILE}.new")

# After the link: <title>.unsigned.exe kept, the package signed in place (with
# a key), then <title>.cdx.json written from the unsigned file, the image and
# the archives the link map names.
set(ZEV_PACKAGE_DIR "${CMAKE_BINARY_DIR}")
set(ZEV_PACKAGE_MAP "${ZEV_PACKAGE_DIR}/${ZEV_PACKAGE_NAME}.map")
set(ZEV_PACKAGE_UNSIGNED "${ZEV_PACKAGE_DIR}/${ZEV_PACKAGE_NAME}.unsigned.exe")
set(ZEV_PACKAGE_BOM "${ZEV_PACKAGE_DIR}/${ZEV_PACKAGE_NAME}.cdx.json")
set_target_properties(zev_package PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${ZEV_PACKAGE_DIR}"
                                             LINK_DEPENDS "${ZEV_SIGNING_FILE}")
target_link_options(zev_package PRIVATE "-Wl,-Map=${ZEV_PACKAGE_MAP}")
add_custom_command(
  TARGET zev_package POST_BUILD
  COMMAND "${CMAKE_COMMAND}" "-DPACKAGE=$<TARGET_FILE:zev_package>" "-DTITLE=${ZEV_PACKAGE_NAME}"
          "-DSIGNING=${ZEV_SIGNING_FILE}" -P "${CMAKE_SOURCE_DIR}/cmake/sign_package.cmake"
  COMMAND "${CMAKE_COMMAND}" "-DTITLE=${ZEV_PACKAGE_NAME}" "-DVERSION=${PROJECT_VERSION}"
          "-DUNSIGNED=${ZEV_PACKAGE_UNSIGNED}" "-DIMAGE=${ZEV_IMAGE_FILE}" "-DMAP=${ZEV_PACKAGE_MAP}"
          "-DCXX=${CMAKE_CXX_COMPILER}" "-DSYSROOT=${CMAKE_FIND_ROOT_PATH}"
          "-DJSON_INCLUDE=${ZEV_JSON_INCLUDE}" "-DEPOCH=${ZEV_SOURCE_DATE_EPOCH}"
          "-DOUTPUT=${ZEV_PACKAGE_BOM}" -P "${CMAKE_SOURCE_DIR}/cmake/bill_of_materials.cmake"
  BYPRODUCTS "${ZEV_PACKAGE_UNSIGNED}" "${ZEV_PACKAGE_BOM}"
  VERBATIM)

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
  # The capture's round trip through zev-sim.exe: a check on the capture of
  # every example machine as on the original, an update with the same
  # outcomes.
  add_test(NAME win32.capture_round_trip
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/win32/check_golden.sh
                   $<TARGET_FILE:zev-sim> ${CMAKE_SOURCE_DIR}
                   ${CMAKE_SOURCE_DIR}/tests/win32/run_capture_round_trip.pl)
  set_tests_properties(win32.package_executable win32.golden_scenarios win32.capture_round_trip
                       PROPERTIES TIMEOUT 600)
endif()

# --- The Wine rig: the package on an emulated machine under Wine ---
include(${CMAKE_SOURCE_DIR}/cmake/wine_rig.cmake)

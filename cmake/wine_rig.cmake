# The Wine rig (tools/wine-rig): the shipped executable on an emulated machine
# under Wine. Included from cmake/windows_package.cmake.
#
# zevrig.sys, a kernel-mode driver image for Wine's device host: the C glue
# against the driver headers of mingw-w64 (its ddk folder) and the simulated
# machine (zevsim) with the static C and C++ runtimes. Native subsystem, entry
# DriverEntry; the runtime start-up is run by the driver itself.
set(ZEV_DDK_INCLUDE "${CMAKE_FIND_ROOT_PATH}/include/ddk")
add_library(zev_rig_driver SHARED ${CMAKE_SOURCE_DIR}/tools/wine-rig/rig_driver.c
                                  ${CMAKE_SOURCE_DIR}/tools/wine-rig/rig_machine.cpp)
set_target_properties(zev_rig_driver PROPERTIES PREFIX "" OUTPUT_NAME zevrig SUFFIX ".sys")
set_source_files_properties(${CMAKE_SOURCE_DIR}/tools/wine-rig/rig_driver.c PROPERTIES
                            COMPILE_OPTIONS "-isystem;${ZEV_DDK_INCLUDE}")
target_include_directories(zev_rig_driver PRIVATE ${CMAKE_SOURCE_DIR}/tools/wine-rig)
target_link_options(zev_rig_driver PRIVATE -static -static-libgcc -static-libstdc++
                    -Wl,--subsystem,native -Wl,--entry,DriverEntry -s)
target_link_libraries(zev_rig_driver PRIVATE zevsim ntoskrnl)

# zev-rig-setup.exe: creates the machine's devices in the prefix, starts the
# driver and reads the report back. It reads the simulator's device tree and
# path namespace through zevsim/machine_view.hpp, as the driver must answer
# exactly those names.
add_executable(zev-rig-setup ${CMAKE_SOURCE_DIR}/tools/wine-rig/rig_setup.cpp)
target_include_directories(zev-rig-setup PRIVATE ${CMAKE_SOURCE_DIR}/tools/wine-rig)
target_compile_options(zev-rig-setup PRIVATE -municode)
target_link_options(zev-rig-setup PRIVATE -municode)
target_link_libraries(zev-rig-setup PRIVATE zevsim setupapi advapi32)
target_link_libraries(zev-rig-setup PRIVATE zev_json)

# Where scripts/wine_rig.sh finds what it runs: the shipped executable, the
# driver, the set-up program and the image the executable carries.
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/wine-rig.env CONTENT
"package=$<TARGET_FILE:zev_package>
driver=$<TARGET_FILE:zev_rig_driver>
setup=$<TARGET_FILE:zev-rig-setup>
image=${ZEV_IMAGE_FILE}
")

# The golden scenarios through the rig, against the shipped executable.
if(ZEV_BUILD_TESTS)
  add_test(NAME win32.wine_rig_golden
           COMMAND perl ${CMAKE_SOURCE_DIR}/tests/wine-rig/run_golden_rig.pl ${CMAKE_SOURCE_DIR})
  # The executable's capture through the rig against zev-sim.exe's of the
  # same machine (zev-sim.exe under Wine in a prefix of its own).
  add_test(NAME win32.wine_rig_capture
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/win32/check_golden.sh
                   $<TARGET_FILE:zev-sim> ${CMAKE_SOURCE_DIR}
                   ${CMAKE_SOURCE_DIR}/tests/wine-rig/run_capture_rig.pl)
  # One rig at a time: two rigs starting their driver services side by side
  # on two cores have been seen to fail the service start (error 1722).
  set_tests_properties(win32.wine_rig_golden win32.wine_rig_capture PROPERTIES TIMEOUT 900
                       ENVIRONMENT "ZEV_RIG_BUILD=${CMAKE_BINARY_DIR}" RESOURCE_LOCK wine_rig)
endif()

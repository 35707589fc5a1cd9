# What makes two builds of one commit byte-identical, in any folder and at
# any time: the Windows package (the release) is compared byte for byte with
# rebuilds (scripts/rebuild_release.sh). Included from CMakeLists.txt before
# any target of a Windows build is defined.
#
# - Paths: source and build folders are recorded as "." and "build" in
#   whatever the compiler writes (__FILE__, debug information); the build
#   folder is named last, so that it wins where it lies inside the source tree.
# - Link time: no time stamp in the PE header (TimeDateStamp 0); the CheckSum
#   that the linker computes then depends on the content alone.
# - Archives: members without dates, owners or modes (ar D, ranlib -D).
# - SOURCE_DATE_EPOCH: the time of the build's inputs, for what must carry a
#   date (the bill of materials); the environment's, else the commit's time
#   when the source tree is a git checkout, else none.

add_compile_options("-ffile-prefix-map=${CMAKE_SOURCE_DIR}=."
                    "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build")
add_link_options(-Wl,--no-insert-timestamp)

foreach(lang IN ITEMS C CXX ASM)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

set(ZEV_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
if(ZEV_SOURCE_DATE_EPOCH STREQUAL "" AND EXISTS "${CMAKE_SOURCE_DIR}/.git")
  find_program(ZEV_GIT git)
  if(ZEV_GIT)
    execute_process(COMMAND "${ZEV_GIT}" -C "${CMAKE_SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE ZEV_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                    ERROR_QUIET)
  endif()
endif()
if(NOT ZEV_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  set(ZEV_SOURCE_DATE_EPOCH "")
endif()
message(STATUS "SOURCE_DATE_EPOCH: ${ZEV_SOURCE_DATE_EPOCH}")

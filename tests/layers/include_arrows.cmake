# The layers' include arrows as the build gives them (cmake/layers.cmake):
# with the include directories of each layer's library, a header of every
# layer below it and of itself is found, and a header of every other layer,
# or of the sim backend, is not. Also that no include can get round the
# include roots: no folder of src/<layer>/ is named after a layer (the quote
# form searches the including file's own folder first), and no include in
# src/ climbs with "..".
#
# Run as: cmake -DCXX=<compiler> -DCXX_STD=<flag> -DSOURCE_DIR=<dir>
#               -DINCLUDES=<dir of <layer>.txt> -DIMPLICIT=<compiler's own dirs>
#               -DWORK=<dir> -P include_arrows.cmake
cmake_minimum_required(VERSION 3.25)

set(layers records platform core report discovery update app)
set(below_records "")
set(below_platform records)
set(below_core records platform)
set(below_report records platform core)
set(below_discovery records platform core report)
set(below_update records platform core report)
set(below_app records platform core report discovery update)

# One header of each layer, the first by name.
foreach(layer IN LISTS layers)
  file(GLOB headers RELATIVE "${SOURCE_DIR}/src" "${SOURCE_DIR}/src/${layer}/*.hpp")
  list(SORT headers)
  list(GET headers 0 header_${layer})
endforeach()

set(failures 0)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
foreach(layer IN LISTS layers)
  file(READ "${INCLUDES}/${layer}.txt" dirs)
  set(flags "")
  # The compiler's own directories are left out, as on the compile lines.
  list(REMOVE_ITEM dirs ${IMPLICIT})
  foreach(dir IN LISTS dirs)
    list(APPEND flags "-I${dir}")
  endforeach()
  set(probes "")
  foreach(other IN LISTS layers)
    list(APPEND probes "${header_${other}}")
  endforeach()
  list(APPEND probes "platform/sim/sim_binding.hpp")
  foreach(probe IN LISTS probes)
    string(REGEX MATCH "^[a-z]+" probeLayer "${probe}")
    set(expectFound FALSE)
    if(NOT probe MATCHES "/sim/" AND (probeLayer STREQUAL layer OR probeLayer IN_LIST below_${layer}))
      set(expectFound TRUE)
    endif()
    file(WRITE "${WORK}/probe.cpp" "#include \"${probe}\"\n")
    execute_process(COMMAND "${CXX}" ${CXX_STD} ${flags} -E -o /dev/null "${WORK}/probe.cpp"
                    RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(expectFound AND NOT rc EQUAL 0)
      message(SEND_ERROR "${layer}: \"${probe}\" should be found:\n${err}")
      math(EXPR failures "${failures} + 1")
    elseif(NOT expectFound)
      string(FIND "${err}" "${probe}" named)
      if(rc EQUAL 0 OR named EQUAL -1)
        message(SEND_ERROR "${layer}: \"${probe}\" should not be found (status ${rc}):\n${err}")
        math(EXPR failures "${failures} + 1")
      endif()
    endif()
  endforeach()
  foreach(other IN LISTS layers)
    if(IS_DIRECTORY "${SOURCE_DIR}/src/${layer}/${other}")
      message(SEND_ERROR "src/${layer}/${other}/ shadows the ${other} layer for quote includes")
      math(EXPR failures "${failures} + 1")
    endif()
  endforeach()
endforeach()

file(GLOB_RECURSE sources "${SOURCE_DIR}/src/*.cpp" "${SOURCE_DIR}/src/*.hpp")
foreach(source IN LISTS sources)
  file(STRINGS "${source}" climbing REGEX "^[ \t]*#[ \t]*include[ \t]*\"\\.\\./")
  if(climbing)
    message(SEND_ERROR "${source}: an include that climbs out of its folder: ${climbing}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} include arrow checks failed")
endif()

# The package's portable code, one static library per layer, so that the
# build refuses an #include that points up a layer:
#
#   records <- platform <- core <- report <- discovery, update <- app
#
# (b <- a: a may use b; discovery and update do not use each other). Each
# layer's headers are reachable through an include root of its own,
# ${ZEV_LAYER_INCLUDE}/<layer>, which holds nothing but <layer>/, a link to
# src/<layer>. A layer's library gives its root PUBLIC and links the layer or
# layers right below it PUBLIC, so its sources see exactly their own headers
# and those of the layers below: "report/console.hpp" from src/core/ is not
# found. Included from CMakeLists.txt, which sets ZEV_LAYER_INCLUDE.
#
# The quote form also searches the including file's own folder: no folder of
# src/<layer>/ is named after a layer, so "app/entry_point.hpp" from
# src/report/ finds nothing there (tests/layers checks that this stays so,
# and that no include climbs out of its folder with "..").
#
# zev_core, the app layer with every layer below it, is what the programs
# link (the launcher, the Windows package, the tests, fuzzers and
# benchmarks), together with the platform backend of their choice.

set(ZEV_LAYERS records platform core report discovery update app)

file(REMOVE_RECURSE "${ZEV_LAYER_INCLUDE}")
foreach(layer IN LISTS ZEV_LAYERS)
  if(layer STREQUAL "platform")
    # src/platform/ also holds the backends (sim/, win32/, crypto/): the
    # platform root links the portable headers one by one, so that no layer
    # reaches a backend's header.
    file(GLOB ZEV_PLATFORM_HEADERS CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/platform/*.hpp")
    file(MAKE_DIRECTORY "${ZEV_LAYER_INCLUDE}/platform/platform")
    foreach(header IN LISTS ZEV_PLATFORM_HEADERS)
      get_filename_component(name "${header}" NAME)
      file(CREATE_LINK "${header}" "${ZEV_LAYER_INCLUDE}/platform/platform/${name}" SYMBOLIC)
    endforeach()
  else()
    file(MAKE_DIRECTORY "${ZEV_LAYER_INCLUDE}/${layer}")
    file(CREATE_LINK "${CMAKE_SOURCE_DIR}/src/${layer}" "${ZEV_LAYER_INCLUDE}/${layer}/${layer}"
         SYMBOLIC)
  endif()
endforeach()

# zev_layer(<layer> SOURCES <file>... [LINKS <target>...] [PRIVATE_LINKS <target>...]):
# the static library zev_layer_<layer> of the given sources, with the layer's
# include root and the libraries below it.
function(zev_layer layer)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LINKS;PRIVATE_LINKS")
  add_library(zev_layer_${layer} STATIC ${arg_SOURCES})
  target_include_directories(zev_layer_${layer} PUBLIC "${ZEV_LAYER_INCLUDE}/${layer}")
  target_link_libraries(zev_layer_${layer} PUBLIC ${arg_LINKS} PRIVATE ${arg_PRIVATE_LINKS})
endfunction()

# records: every byte layout of a request or reply.
file(GLOB_RECURSE ZEV_RECORDS_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/records/*.cpp")
zev_layer(records SOURCES ${ZEV_RECORDS_SOURCES})

# platform: the portable helpers over the platform boundary (not the
# backends), and SHA-256 from the platform's own library: CNG on Windows,
# libcrypto on Linux.
file(GLOB ZEV_PLATFORM_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/platform/*.cpp")
if(WIN32)
  zev_layer(platform SOURCES ${ZEV_PLATFORM_SOURCES}
            "${CMAKE_SOURCE_DIR}/src/platform/win32/sha256_cng.cpp" LINKS zev_layer_records bcrypt)
else()
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  zev_layer(platform SOURCES ${ZEV_PLATFORM_SOURCES}
            "${CMAKE_SOURCE_DIR}/src/platform/crypto/sha256_libcrypto.cpp"
            LINKS zev_layer_records OpenSSL::Crypto)
endif()

# core: what the whole run shares, the embedded image among it.
file(GLOB_RECURSE ZEV_CORE_LAYER_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/core/*.cpp")
zev_layer(core SOURCES ${ZEV_CORE_LAYER_SOURCES} LINKS zev_layer_platform zev_image)

file(GLOB_RECURSE ZEV_REPORT_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/report/*.cpp")
zev_layer(report SOURCES ${ZEV_REPORT_SOURCES} LINKS zev_layer_core PRIVATE_LINKS zev_json)

file(GLOB_RECURSE ZEV_DISCOVERY_SOURCES CONFIGURE_DEPENDS
     "${CMAKE_SOURCE_DIR}/src/discovery/*.cpp")
zev_layer(discovery SOURCES ${ZEV_DISCOVERY_SOURCES} LINKS zev_layer_report)

file(GLOB_RECURSE ZEV_UPDATE_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/update/*.cpp")
zev_layer(update SOURCES ${ZEV_UPDATE_SOURCES} LINKS zev_layer_report)

# app: the entry point; main_win32.cpp belongs to the Windows package's
# executable.
file(GLOB_RECURSE ZEV_APP_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/app/*.cpp")
list(FILTER ZEV_APP_SOURCES EXCLUDE REGEX "src/app/main_win32\\.cpp$")
zev_layer(app SOURCES ${ZEV_APP_SOURCES} LINKS zev_layer_discovery zev_layer_update)

add_library(zev_core ALIAS zev_layer_app)

# zev_platform_backend(<name> SOURCES <file>... [LINKS <target>...]
#                      [HEADERS <folder under src>]):
# a backend of the platform boundary, which defines the functions that
# platform/platform.hpp declares. Every layer from platform up calls them, and
# a static library of its own would come before those layers on the link
# line, leaving their calls unresolved; so the backend is an object library
# whose object files a program links directly (objects come before every
# library on the link line), through the interface library <name>. HEADERS
# names the backend's own header folder (platform/sim), reachable from the
# programs that link the backend and from no layer.
function(zev_platform_backend name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "HEADERS" "SOURCES;LINKS")
  add_library(${name}_objects OBJECT ${arg_SOURCES})
  target_link_libraries(${name}_objects PRIVATE zev_layer_platform ${arg_LINKS})
  add_library(${name} INTERFACE)
  target_link_libraries(${name} INTERFACE $<TARGET_OBJECTS:${name}_objects> zev_layer_platform
                                          ${arg_LINKS})
  if(arg_HEADERS)
    set(root "${ZEV_LAYER_INCLUDE}/${name}")
    get_filename_component(parent "${root}/${arg_HEADERS}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    file(CREATE_LINK "${CMAKE_SOURCE_DIR}/src/${arg_HEADERS}" "${root}/${arg_HEADERS}" SYMBOLIC)
    target_include_directories(${name}_objects PRIVATE "${root}")
    target_include_directories(${name} INTERFACE "${root}")
  endif()
endfunction()

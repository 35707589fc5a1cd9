cmake_minimum_required(VERSION 3.25)
# Run after the package executable is linked and signed (a POST_BUILD step of
# zev_package, cmake/windows_package.cmake):
#
#   cmake -DTITLE=<title> -DVERSION=<x.y.z> -DUNSIGNED=<title>.unsigned.exe
#         -DIMAGE=<firmware image> -DMAP=<link map> -DCXX=<the C++ compiler>
#         -DSYSROOT=<mingw-w64 root> -DJSON_INCLUDE=<folder> [-DEPOCH=<seconds>]
#         -DOUTPUT=<title>.cdx.json -P bill_of_materials.cmake
#
# Writes the package's bill of materials, CycloneDX 1.5 JSON: the package
# (title, version, SHA-256 of the unsigned executable, the file rebuilds are
# compared with), the firmware image it carries (its revision, read from the
# image where the package reads it, and its SHA-256), and what is linked into
# the executable with the versions the build used: the GCC runtime (libgcc,
# libstdc++) and the mingw-w64 runtime (CRT, winpthreads) as the link map
# shows their archives, and the JSON library compiled in. A Debian package
# that holds a component gives it a purl, and a runtime archive its version:
# the package's upstream version (Debian's mingw-w64 GCC calls itself
# "12-posix"); without one the toolchain's own version is named. The file depends on its inputs
# only: the serial number (a name-based UUID of title, version and EPOCH) and
# the time stamp come from EPOCH (SOURCE_DATE_EPOCH) and are left out without
# it.

# json_string(<var> <text>): <text> as a JSON string.
function(json_string var text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  set(${var} "\"${text}\"" PARENT_SCOPE)
endfunction()

# purl_part(<var> <text>): <text> percent-encoded for a purl's name or version.
function(purl_part var text)
  string(REPLACE "%" "%25" text "${text}")
  string(REPLACE "+" "%2B" text "${text}")
  string(REPLACE ":" "%3A" text "${text}")
  string(REPLACE "~" "%7E" text "${text}")
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

# debian_purl(<var> <file> [<version var>]): the purl of the Debian package
# that installed <file>, or empty; <version var> gets its upstream version
# (without epoch and Debian revision).
function(debian_purl var file)
  set(${var} "" PARENT_SCOPE)
  if(ARGC GREATER 2)
    set(${ARGV2} "" PARENT_SCOPE)
  endif()
  find_program(dpkg_query dpkg-query)
  if(NOT dpkg_query)
    return()
  endif()
  get_filename_component(file "${file}" REALPATH)
  execute_process(COMMAND "${dpkg_query}" -S "${file}" OUTPUT_VARIABLE owner ERROR_QUIET
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT owner MATCHES "^([^:, \n]+)(:[^:, \n]+)?: ")
    return()
  endif()
  set(package "${CMAKE_MATCH_1}")
  execute_process(COMMAND "${dpkg_query}" -W "-f=\${Version} \${Architecture}" "${package}"
                  OUTPUT_VARIABLE found ERROR_QUIET RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT found MATCHES "^([^ ]+) ([^ ]+)$")
    return()
  endif()
  set(arch "${CMAKE_MATCH_2}")
  set(full "${CMAKE_MATCH_1}")
  if(ARGC GREATER 2)
    string(REGEX REPLACE "^[0-9]+:" "" upstream "${full}")
    string(REGEX REPLACE "-[^-]*$" "" upstream "${upstream}")
    set(${ARGV2} "${upstream}" PARENT_SCOPE)
  endif()
  purl_part(version "${full}")
  purl_part(package "${package}")
  set(${var} "pkg:deb/debian/${package}@${version}?arch=${arch}" PARENT_SCOPE)
endfunction()

# header_version(<var> <file> <prefix>): "MAJOR.MINOR.<third>" from the
# #defines <prefix>MAJOR, <prefix>MINOR and <prefix>PATCH or <prefix>BUGFIX.
function(header_version var file prefix)
  set(${var} "" PARENT_SCOPE)
  if(NOT EXISTS "${file}")
    return()
  endif()
  file(STRINGS "${file}" lines REGEX "^#define ${prefix}(MAJOR|MINOR|PATCH|BUGFIX)[ \t]+[0-9]+")
  set(parts)
  foreach(field IN ITEMS MAJOR MINOR PATCH BUGFIX)
    foreach(line IN LISTS lines)
      if(line MATCHES "^#define ${prefix}${field}[ \t]+([0-9]+)")
        list(APPEND parts "${CMAKE_MATCH_1}")
      endif()
    endforeach()
  endforeach()
  list(LENGTH parts count)
  if(count EQUAL 3)
    list(JOIN parts "." version)
    set(${var} "${version}" PARENT_SCOPE)
  endif()
endfunction()

# The archives the link took members from, as the link map names them.
file(READ "${MAP}" map_text)
string(REGEX MATCHALL "[^ \t\n()]+\\.a\\(" archive_refs "${map_text}")
set(archives)
foreach(ref IN LISTS archive_refs)
  string(REGEX REPLACE "\\($" "" archive "${ref}")
  get_filename_component(archive "${archive}" REALPATH)
  list(APPEND archives "${archive}")
endforeach()
list(REMOVE_DUPLICATES archives)
list(SORT archives)

# linked_archive(<var> <regex>): the first linked archive whose file name
# matches <regex>, or empty.
function(linked_archive var regex)
  set(${var} "" PARENT_SCOPE)
  foreach(archive IN LISTS archives)
    get_filename_component(name "${archive}" NAME)
    if(name MATCHES "${regex}")
      set(${var} "${archive}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()

set(components)
set(refs)
# add_component(<ref> <type> <name> <version> <description> <purl> [<sha256>])
function(add_component ref type name version description purl)
  set(fields)
  foreach(pair IN ITEMS "bom-ref;${ref}" "type;${type}" "name;${name}" "version;${version}"
                        "description;${description}")
    list(GET pair 0 key)
    list(GET pair 1 value)
    json_string(value "${value}")
    list(APPEND fields "\"${key}\": ${value}")
  endforeach()
  if(ARGC GREATER 6)
    list(APPEND fields "\"hashes\": [{\"alg\": \"SHA-256\", \"content\": \"${ARGV6}\"}]")
  endif()
  if(purl)
    json_string(purl "${purl}")
    list(APPEND fields "\"purl\": ${purl}")
  endif()
  list(JOIN fields ",\n      " body)
  set(components "${components};{\n      ${body}\n    }" PARENT_SCOPE)
  set(refs "${refs};\"${ref}\"" PARENT_SCOPE)
endfunction()

# --- The firmware image ---
file(SHA256 "${IMAGE}" image_sha256)
# The revision: the 8 bytes at 0x1010 (core/firmware_image.hpp); a byte that
# is not printable ASCII is written as \xNN.
file(READ "${IMAGE}" revision_hex OFFSET 4112 LIMIT 8 HEX)
set(revision "")
string(REGEX MATCHALL ".." revision_bytes "${revision_hex}")
foreach(byte IN LISTS revision_bytes)
  math(EXPR code "0x${byte}")
  if(code GREATER_EQUAL 33 AND code LESS_EQUAL 126 AND NOT code EQUAL 92)
    string(ASCII ${code} char)
    string(APPEND revision "${char}")
  else()
    string(APPEND revision "\\x${byte}")
  endif()
endforeach()
add_component(firmware-image firmware "TQ270c firmware image" "${revision}"
              "The firmware image embedded in the package" "" "${image_sha256}")

# --- The runtimes linked in statically ---
header_version(mingw_version "${SYSROOT}/include/_mingw_mac.h" "__MINGW64_VERSION_")
# runtime(<name> <archive regex> <version> <description>): the component
# when an archive whose file name matches was linked; <version> when no
# Debian package names one.
function(runtime name regex version description)
  linked_archive(archive "${regex}")
  if(archive)
    debian_purl(purl "${archive}" packaged)
    if(packaged)
      set(version "${packaged}")
    endif()
    add_component("${name}" library "${name}" "${version}" "${description}, linked statically"
                  "${purl}")
    set(components "${components}" PARENT_SCOPE)
    set(refs "${refs}" PARENT_SCOPE)
  endif()
endfunction()
execute_process(COMMAND "${CXX}" -dumpfullversion OUTPUT_VARIABLE gcc_version
                OUTPUT_STRIP_TRAILING_WHITESPACE)
runtime(libgcc "^libgcc(_eh)?\\.a$" "${gcc_version}" "GCC runtime support library")
runtime(libstdc++ "^libstdc\\+\\+\\.a$" "${gcc_version}" "GCC C++ standard library")
runtime(mingw-w64-crt "^lib(mingw32|mingwex|msvcrt)\\.a$" "${mingw_version}"
        "mingw-w64 C runtime start-up and support code")
# libpthread.a is the mingw-w64 toolchain's copy of libwinpthread.a.
runtime(winpthreads "^lib(win)?pthread\\.a$" "${mingw_version}" "mingw-w64 POSIX threads library")

# --- The JSON library, header-only, compiled in ---
set(json_header "${JSON_INCLUDE}/nlohmann/detail/abi_macros.hpp")
if(NOT EXISTS "${json_header}")
  set(json_header "${JSON_INCLUDE}/nlohmann/json.hpp")
endif()
header_version(json_version "${json_header}" "NLOHMANN_JSON_VERSION_")
debian_purl(purl "${JSON_INCLUDE}/nlohmann/json.hpp")
add_component(nlohmann-json library "nlohmann/json" "${json_version}"
              "JSON for Modern C++, header-only, compiled in" "${purl}")

# --- The document ---
file(SHA256 "${UNSIGNED}" package_sha256)
json_string(title_json "${TITLE}")
json_string(version_json "${VERSION}")
set(head "  \"bomFormat\": \"CycloneDX\",\n  \"specVersion\": \"1.5\",\n")
set(stamp "")
if(EPOCH MATCHES "^[0-9]+$")
  string(UUID serial NAMESPACE 6ba7b811-9dad-11d1-80b4-00c04fd430c8
         NAME "zev-package:${TITLE}:${VERSION}:${EPOCH}" TYPE SHA1)
  string(APPEND head "  \"serialNumber\": \"urn:uuid:${serial}\",\n")
  set(ENV{SOURCE_DATE_EPOCH} "${EPOCH}")
  string(TIMESTAMP time "%Y-%m-%dT%H:%M:%SZ" UTC)
  set(stamp "    \"timestamp\": \"${time}\",\n")
endif()
string(APPEND head "  \"version\": 1,\n")
list(REMOVE_ITEM components "")
list(REMOVE_ITEM refs "")
list(JOIN components ",\n    " components_json)
list(JOIN refs ", " refs_json)
file(WRITE "${OUTPUT}.new"
     "{\n${head}"
     "  \"metadata\": {\n${stamp}"
     "    \"component\": {\n"
     "      \"bom-ref\": \"package\",\n"
     "      \"type\": \"application\",\n"
     "      \"name\": ${title_json},\n"
     "      \"version\": ${version_json},\n"
     "      \"description\": \"KELDORA TQ270c NVMe firmware update package (unsigned executable)\",\n"
     "      \"hashes\": [{\"alg\": \"SHA-256\", \"content\": \"${package_sha256}\"}]\n"
     "    }\n"
     "  },\n"
     "  \"components\": [\n    ${components_json}\n  ],\n"
     "  \"dependencies\": [\n"
     "    {\"ref\": \"package\", \"dependsOn\": [${refs_json}]}\n"
     "  ]\n"
     "}\n")
file(RENAME "${OUTPUT}.new" "${OUTPUT}")

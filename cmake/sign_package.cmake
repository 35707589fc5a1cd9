cmake_minimum_required(VERSION 3.25)
# Run after the package executable is linked (a POST_BUILD step of
# zev_package, cmake/windows_package.cmake):
#
#   cmake -DPACKAGE=<title>.exe -DTITLE=<title> -DSIGNING=<package_signing.cmake>
#         -P sign_package.cmake
#
# Keeps the linked file as <title>.unsigned.exe beside it (always: with no key
# the two are equal), the file a rebuild is compared with, and, given a key,
# signs the package in place with an Authenticode signature (SHA-256, the
# title as its description) through osslsigncode. SIGNING, written when CMake
# configures, sets the key: PFX, a PKCS#12 file, or PKCS11_MODULE and
# PKCS11_KEY (a pkcs11: URI) with the certificate CERT; PASSWORD_FILE holds
# the PKCS#12 password or the token's PIN, read by osslsigncode itself so that
# it appears on no command line; TIMESTAMP_URL adds an RFC 3161 time stamp.
# When signing fails the package is removed, so that no unsigned file stands
# where a signed one is expected.
if(SIGNING)
  include("${SIGNING}")
endif()
# arg(<list> <option> <value>): appends both, a ";" in <value> kept (a pkcs11:
# URI separates its attributes with it).
macro(arg list option value)
  string(REPLACE ";" "\\;" escaped "${value}")
  list(APPEND ${list} ${option} "${escaped}")
endmacro()

get_filename_component(dir "${PACKAGE}" DIRECTORY)
set(unsigned "${dir}/${TITLE}.unsigned.exe")
file(COPY_FILE "${PACKAGE}" "${unsigned}")

if(NOT PFX AND NOT PKCS11_MODULE)
  message(STATUS "${TITLE}.exe: unsigned (no signing key configured)")
  return()
endif()

find_program(osslsigncode osslsigncode)
if(NOT osslsigncode)
  file(REMOVE "${PACKAGE}")
  message(FATAL_ERROR "osslsigncode not found: the package cannot be signed")
endif()

set(options)
if(PFX)
  arg(options -pkcs12 "${PFX}")
else()
  arg(options -pkcs11module "${PKCS11_MODULE}")
  arg(options -certs "${CERT}")
  arg(options -key "${PKCS11_KEY}")
endif()
if(PASSWORD_FILE)
  arg(options -readpass "${PASSWORD_FILE}")
endif()
arg(options -h sha256)
arg(options -n "${TITLE}")
if(TIMESTAMP_URL)
  arg(options -ts "${TIMESTAMP_URL}")
endif()

set(signing "${PACKAGE}.signing")
file(REMOVE "${signing}")
execute_process(
  COMMAND "${osslsigncode}" sign ${options} -in "${unsigned}" -out "${signing}"
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  file(REMOVE "${signing}" "${PACKAGE}")
  message(FATAL_ERROR "osslsigncode sign failed (${status}); ${PACKAGE} removed:\n${output}")
endif()
file(RENAME "${signing}" "${PACKAGE}")
# osslsigncode writes its output without execute permission.
file(CHMOD "${PACKAGE}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
     WORLD_READ WORLD_EXECUTE)
message(STATUS "${TITLE}.exe: signed (SHA-256)")
if(NOT TIMESTAMP_URL)
  message(WARNING "${TITLE}.exe is signed without a time stamp (ZEV_TIMESTAMP_URL): "
                  "its signature expires with the signing certificate")
endif()

cmake_minimum_required(VERSION 3.25)
# Run after the package executable is linked (a POST_BUILD step of
# zev_package, cmake/windows_package.cmake):
#
#   cmake -DPACKAGE=<title>.exe -DTITLE=<title> [-DPFX=<file.p12>]
#         [-DPKCS11_MODULE=<module.so> -DPKCS11_KEY=<pkcs11: URI> -DCERT=<file>]
#         [-DPASSWORD_FILE=<file>] [-DTIMESTAMP_URL=<url>] -P sign_package.cmake
#
# Keeps the linked file as <title>.unsigned.exe beside it (always: with no key
# the two are equal), the file a rebuild is compared with, and, given a key,
# signs the package in place with an Authenticode signature (SHA-256, the
# title as its description) through osslsigncode. The key is a PKCS#12 file
# (PFX) or a PKCS#11 key (PKCS11_MODULE, PKCS11_KEY with the certificate
# CERT); PASSWORD_FILE holds the PKCS#12 password or the token's PIN, read by
# osslsigncode itself so that it appears on no command line. TIMESTAMP_URL
# adds an RFC 3161 time stamp. When signing fails the package is removed, so
# that no unsigned file stands where a signed one is expected.
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

if(PFX)
  set(key -pkcs12 "${PFX}")
else()
  set(key -pkcs11module "${PKCS11_MODULE}" -certs "${CERT}" -key "${PKCS11_KEY}")
endif()
if(PASSWORD_FILE)
  list(APPEND key -readpass "${PASSWORD_FILE}")
endif()
set(stamp)
if(TIMESTAMP_URL)
  set(stamp -ts "${TIMESTAMP_URL}")
endif()

set(signing "${PACKAGE}.signing")
file(REMOVE "${signing}")
execute_process(
  COMMAND "${osslsigncode}" sign ${key} -h sha256 -n "${TITLE}" ${stamp} -in "${unsigned}" -out
          "${signing}"
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

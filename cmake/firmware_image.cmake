# The firmware image the package carries, linked in as a data object
# (.incbin), never as a generated source array. By default a stand-in image is
# generated deterministically at build time; ZEV_FIRMWARE_IMAGE embeds the
# maker's file instead.
set(ZEV_IMAGE_SIZE 2097152)

if(ZEV_FIRMWARE_IMAGE)
  get_filename_component(ZEV_IMAGE_FILE "${ZEV_FIRMWARE_IMAGE}" ABSOLUTE)
  if(NOT EXISTS "${ZEV_IMAGE_FILE}")
    message(FATAL_ERROR "ZEV_FIRMWARE_IMAGE: ${ZEV_IMAGE_FILE} does not exist")
  endif()
  file(SIZE "${ZEV_IMAGE_FILE}" ZEV_GIVEN_SIZE)
  if(NOT ZEV_GIVEN_SIZE EQUAL ZEV_IMAGE_SIZE)
    message(FATAL_ERROR "ZEV_FIRMWARE_IMAGE: ${ZEV_IMAGE_FILE} is ${ZEV_GIVEN_SIZE} bytes; "
                        "a firmware image must be exactly ${ZEV_IMAGE_SIZE} bytes")
  endif()
  file(SHA256 "${ZEV_IMAGE_FILE}" ZEV_GIVEN_SHA256)
  message(STATUS "ZEV_FIRMWARE_IMAGE: ${ZEV_IMAGE_FILE}, SHA-256 ${ZEV_GIVEN_SHA256}")
  set(ZEV_IMAGE_DEPENDS "${ZEV_IMAGE_FILE}")
else()
  find_program(ZEV_PERL perl REQUIRED)
  set(ZEV_IMAGE_FILE "${CMAKE_BINARY_DIR}/standin_firmware.bin")
  add_custom_command(
    OUTPUT "${ZEV_IMAGE_FILE}"
    COMMAND "${ZEV_PERL}" "${CMAKE_SOURCE_DIR}/cmake/make_standin_image.pl" "${ZEV_IMAGE_FILE}"
    DEPENDS "${CMAKE_SOURCE_DIR}/cmake/make_standin_image.pl"
    COMMENT "Generating the stand-in firmware image"
    VERBATIM)
  set(ZEV_IMAGE_DEPENDS "${ZEV_IMAGE_FILE}")
endif()

configure_file("${CMAKE_SOURCE_DIR}/cmake/firmware_image.S.in"
               "${CMAKE_BINARY_DIR}/firmware_image.S" @ONLY)
set_source_files_properties("${CMAKE_BINARY_DIR}/firmware_image.S" PROPERTIES
                            OBJECT_DEPENDS "${ZEV_IMAGE_DEPENDS}")
add_library(zev_image OBJECT "${CMAKE_BINARY_DIR}/firmware_image.S" ${ZEV_IMAGE_DEPENDS})
# Assembler warnings are not compiler warnings; keep only the assembler's own.
set_source_files_properties("${CMAKE_BINARY_DIR}/firmware_image.S" PROPERTIES
                            COMPILE_OPTIONS "-Wno-unused-command-line-argument")

# The image's SHA-256, computed at build time beside the image itself, and a
# deliberately mismatching one for the test of a damaged image. Executables
# link exactly one of the two object libraries directly.
foreach(variant IN ITEMS digest digest_mismatch)
  set(source "${CMAKE_BINARY_DIR}/image_${variant}.cpp")
  set(mismatch 0)
  if(variant STREQUAL "digest_mismatch")
    set(mismatch 1)
  endif()
  add_custom_command(
    OUTPUT "${source}"
    COMMAND "${CMAKE_COMMAND}" -DIMAGE=${ZEV_IMAGE_FILE} -DOUTPUT=${source} -DMISMATCH=${mismatch}
            -P "${CMAKE_SOURCE_DIR}/cmake/image_sha256.cmake"
    DEPENDS ${ZEV_IMAGE_DEPENDS} "${CMAKE_SOURCE_DIR}/cmake/image_sha256.cmake"
    COMMENT "Computing the firmware image's SHA-256 (${variant})"
    VERBATIM)
  add_library(zev_image_${variant} OBJECT "${source}")
  # The source includes core/firmware_image.hpp only.
  target_include_directories(zev_image_${variant} PRIVATE "${ZEV_LAYER_INCLUDE}/core")
endforeach()

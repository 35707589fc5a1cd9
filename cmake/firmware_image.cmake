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

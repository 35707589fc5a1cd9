# Run as `cmake -DIMAGE=<file> -DOUTPUT=<file.cpp> [-DMISMATCH=1] -P image_sha256.cmake`:
# writes the source that records the SHA-256 of the embedded firmware image,
# against which the package checks its image before it touches a drive.
# MISMATCH writes a digest that differs from the image's in its first digit:
# the build's seam for the test of a damaged image.
file(SHA256 "${IMAGE}" digest)
if(MISMATCH)
  string(SUBSTRING "${digest}" 0 1 first)
  string(SUBSTRING "${digest}" 1 -1 rest)
  if(first STREQUAL "0")
    set(digest "1${rest}")
  else()
    set(digest "0${rest}")
  endif()
endif()
file(WRITE "${OUTPUT}.new"
     "// Generated at build time from the embedded firmware image.\n"
     "#include \"core/firmware_image.hpp\"\n\n"
     "namespace zev {\n\n"
     "const char* expectedImageSha256() {\n"
     "  return \"${digest}\";\n"
     "}\n\n"
     "}  // namespace zev\n")
# Rewritten only when it changes, so that nothing is rebuilt for nothing.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")

// Identity from Identify Controller data.
#include "records/identify_fields.hpp"

#include "records/little_endian.hpp"

namespace zev::identify {

wchar_t driveTextCharacter(std::uint8_t byte) {
  const bool control = byte < 0x20 || (byte >= 0x7F && byte <= 0x9F);
  return control ? L'?' : static_cast<wchar_t>(byte);
}

std::wstring textUpToZero(std::span<const std::uint8_t> field) {
  std::wstring text;
  for (std::uint8_t byte : field) {
    if (byte == 0) {
      break;
    }
    text.push_back(driveTextCharacter(byte));
  }
  return text;
}

std::wstring textWholeField(std::span<const std::uint8_t> field) {
  std::wstring text;
  text.reserve(field.size());
  for (std::uint8_t byte : field) {
    text.push_back(driveTextCharacter(byte));
  }
  return text;
}

namespace {

std::string fieldBytes(std::span<const std::uint8_t> data, std::size_t offset, std::size_t size) {
  if (!fieldInside(data, offset, size)) {
    return {};
  }
  const auto field = data.subspan(offset, size);
  return std::string(field.begin(), field.end());
}

}  // namespace

RawFields rawFieldsOf(std::span<const std::uint8_t> identifyData) {
  RawFields fields;
  fields.model = fieldBytes(identifyData, kMnOffset, kMnSize);
  fields.serial = fieldBytes(identifyData, kSnOffset, kSnSize);
  fields.firmware = fieldBytes(identifyData, kFrOffset, kFrSize);
  if (fieldInside(identifyData, kFwugOffset, 1)) {
    fields.versionMajor = loadLe16(identifyData, kVerMajorOffset);
    fields.versionMinor = loadLe8(identifyData, kVerMinorOffset);
    fields.versionTertiary = loadLe8(identifyData, kVerTertiaryOffset);
    fields.mdts = loadLe8(identifyData, kMdtsOffset);
    fields.frmw = loadLe8(identifyData, kFrmwOffset);
    fields.fwug = loadLe8(identifyData, kFwugOffset);
  }
  return fields;
}

std::int32_t granularityFor(std::uint16_t versionMajor, std::uint8_t versionMinor,
                            std::uint8_t fwug) {
  if (versionMajor >= 1 && versionMinor >= 3 && fwug != 0) {
    return fwug;
  }
  return 1;
}

std::int32_t granularityFromIdentify(std::span<const std::uint8_t> identifyData) {
  if (!fieldInside(identifyData, kFwugOffset, 1)) {
    return 1;
  }
  return granularityFor(loadLe16(identifyData, kVerMajorOffset),
                        loadLe8(identifyData, kVerMinorOffset), loadLe8(identifyData, kFwugOffset));
}

}  // namespace zev::identify

// The block that opens each drive's update, shared by the three paths.
#include "core/firmware_image.hpp"
#include "report/console.hpp"
#include "update/update_paths.hpp"

namespace zev {

void printTargetDiskBlock(const DiskInfo& disk, std::wstring_view driverName, bool printRaidLine) {
  static constexpr std::wstring_view kRule = L"---------------------------------------------";
  wideOut << endLine;
  wideOut << kRule << endLine;
  wideOut << L" Firmware Download | Target Disk Information " << endLine;
  wideOut << kRule << endLine;
  wideOut << L" Driver : "
          << (disk.driverKind == DriverKind::Inbox ? std::wstring_view(L"Inbox Driver")
                                                   : driverName)
          << endLine;
  if (printRaidLine) {
    wideOut << L" Raid : " << (disk.driverKind == DriverKind::IrstRaid ? L"Yes" : L"No") << endLine;
  }
  wideOut << L" Model Number : " << disk.modelNumber << endLine;
  wideOut << L" Serial Number : " << disk.serialNumber << endLine;
  wideOut << L" Current FW : " << disk.firmwareRevision << endLine;
  wideOut << L" Updated FW : " << imageRevision << endLine;
  wideOut << kRule << endLine;
}

void printTargetDiskBlockOf(const DiskInfo& disk) {
  switch (disk.driverKind) {
    case DriverKind::VrocRaid:
    case DriverKind::VrocNonRaid:
      printTargetDiskBlock(disk, L"VROC Driver", false);
      break;
    default:
      printTargetDiskBlock(disk, L"IRST Driver", true);
      break;
  }
}

}  // namespace zev

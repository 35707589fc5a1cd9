// The block that opens each drive's update (and each drive's verdict in a
// check), shared by the three paths.
#include "report/console.hpp"
#include "update/driver_kinds.hpp"
#include "update/update_paths.hpp"

namespace zev {

void printTargetDiskBlock(const DiskInfo& disk, const PackageIdentity& identity) {
  static constexpr std::wstring_view kRule = L"---------------------------------------------";
  const DriverKindRow& row = driverKindRow(disk.driverKind);
  wideOut << endLine;
  wideOut << kRule << endLine;
  wideOut << L" Firmware Download | Target Disk Information " << endLine;
  wideOut << kRule << endLine;
  wideOut << L" Driver : " << row.driverName << endLine;
  if (row.printsRaidLine) {
    wideOut << L" Raid : " << (row.raid ? L"Yes" : L"No") << endLine;
  }
  wideOut << L" Model Number : " << disk.modelNumber << endLine;
  wideOut << L" Serial Number : " << disk.serialNumber << endLine;
  wideOut << L" Current FW : " << disk.firmwareRevision << endLine;
  wideOut << L" Updated FW : " << identity.imageRevision << endLine;
  wideOut << kRule << endLine;
}

}  // namespace zev

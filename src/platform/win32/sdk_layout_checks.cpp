// Compile-time checks, in the Windows build only, that the package's own
// names for Windows values and its byte layouts of platform records equal the
// SDK's: every constant of platform_constants.hpp, every offset and size of
// the request records that the mingw-w64 headers define (SRB_IO_CONTROL,
// STORAGE_PROPERTY_QUERY, STORAGE_PROTOCOL_SPECIFIC_DATA,
// STORAGE_PROTOCOL_DATA_DESCRIPTOR, STORAGE_DEVICE_NUMBER, the SetupAPI
// records, NVME_IDENTIFY_CONTROLLER_DATA, NVME_COMMAND, NVME_COMPLETION_ENTRY)
// and the NVMe commands (nvme_command.hpp) the Intel and VROC requests embed,
// and the event log entry's types.
//
// The miniport firmware interface (IOCTL_SCSI_MINIPORT_FIRMWARE,
// FIRMWARE_REQUEST_BLOCK, STORAGE_FIRMWARE_*) is missing from mingw-w64 10's
// <ntddscsi.h>; it is declared below once, as the Windows SDK's ntddscsi.h
// publishes it, and the package's offsets are checked against that
// declaration.
//
// The file produces no code: a mismatch fails the build.

// The SDK headers depend on this order.
#include <windows.h>

#include <setupapi.h>

#include <initguid.h>

#include <devpkey.h>

#include <winioctl.h>

#include <ntddscsi.h>

#include <nvme.h>

#include <cstddef>
#include <cstdint>

#include "platform/platform.hpp"
#include "platform/platform_constants.hpp"
#include "records/firmware_records.hpp"
#include "records/identify_fields.hpp"
#include "records/intel_requests.hpp"
#include "records/irst_records.hpp"
#include "records/nvme_command.hpp"
#include "records/srb_io_control.hpp"
#include "records/storage_query_records.hpp"
#include "records/vroc_records.hpp"

// The SDK defines its GUIDs and property keys as extern const objects, which
// cannot be read in a constant expression. The GUID and DEVPKEY sections of
// <winioctl.h> and <devpkey.h> sit outside their include guards, so they are
// read a second time here, inside a namespace, with the definition macros'
// linkage words turned into constexpr: every DEFINE_GUID and DEFINE_DEVPROPKEY
// line then yields a constexpr copy of the SDK's own value.
namespace sdk_values {
#pragma push_macro("EXTERN_C")
#pragma push_macro("DECLSPEC_SELECTANY")
#undef EXTERN_C
#undef DECLSPEC_SELECTANY
#define EXTERN_C constexpr
#define DECLSPEC_SELECTANY
// Second reading: only the unguarded DEFINE_GUID and DEFINE_DEVPROPKEY lines
// expand.
#include <winioctl.h>

#include <devpkey.h>
#pragma pop_macro("DECLSPEC_SELECTANY")
#pragma pop_macro("EXTERN_C")
}  // namespace sdk_values

namespace {

using zev::platform::Guid;
using zev::platform::PropertyKey;

constexpr bool sameGuid(const GUID& sdk, const Guid& ours) {
  for (std::size_t i = 0; i < 8; ++i) {
    if (sdk.Data4[i] != ours.data4[i]) {
      return false;
    }
  }
  return sdk.Data1 == ours.data1 && sdk.Data2 == ours.data2 && sdk.Data3 == ours.data3;
}

constexpr bool sameKey(const DEVPROPKEY& sdk, const PropertyKey& ours) {
  return sameGuid(sdk.fmtid, ours.fmtid) && sdk.pid == ours.pid;
}

}  // namespace

// --- The platform's sizes ---------------------------------------------------
static_assert(sizeof(wchar_t) == sizeof(WCHAR) && sizeof(wchar_t) == 2);
static_assert(sizeof(DWORD) == 4 && sizeof(ULONG) == 4 && sizeof(long) == 4);
static_assert(sizeof(zev::platform::Handle) == sizeof(HANDLE));
static_assert(sizeof(zev::platform::DeviceSet) == sizeof(HDEVINFO));

// --- platform_constants.hpp -------------------------------------------------
namespace pc = zev::platform;

// CreateFileW
static_assert(pc::kGenericRead == GENERIC_READ);
static_assert(pc::kGenericWrite == GENERIC_WRITE);
static_assert(pc::kGenericReadWrite == (GENERIC_READ | GENERIC_WRITE));
static_assert(pc::kFileShareRead == FILE_SHARE_READ);
static_assert(pc::kFileShareWrite == FILE_SHARE_WRITE);
static_assert(pc::kFileShareReadWrite == (FILE_SHARE_READ | FILE_SHARE_WRITE));
static_assert(pc::kOpenExisting == OPEN_EXISTING);
static_assert(pc::kFileAttributeNormal == FILE_ATTRIBUTE_NORMAL);
static_assert(pc::kFileFlagOverlapped == FILE_FLAG_OVERLAPPED);

// Last-error values
static_assert(pc::kErrorSuccess == ERROR_SUCCESS);
static_assert(pc::kErrorInvalidFunction == ERROR_INVALID_FUNCTION);
static_assert(pc::kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(pc::kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(pc::kErrorInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(pc::kErrorInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(pc::kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(pc::kErrorNoMoreItems == ERROR_NO_MORE_ITEMS);
static_assert(pc::kErrorIoDevice == ERROR_IO_DEVICE);
static_assert(pc::kErrorNotFound == ERROR_NOT_FOUND);

// SetupAPI flags, property codes and record sizes (x64)
static_assert(pc::kDigcfPresent == DIGCF_PRESENT);
static_assert(pc::kDigcfAllClasses == DIGCF_ALLCLASSES);
static_assert(pc::kDigcfDeviceInterface == DIGCF_DEVICEINTERFACE);
static_assert(pc::kSpdrpHardwareId == SPDRP_HARDWAREID);
static_assert(pc::kDeviceInfoDataCbSize == sizeof(SP_DEVINFO_DATA));
static_assert(pc::kDeviceInterfaceDataCbSize == sizeof(SP_DEVICE_INTERFACE_DATA));
static_assert(pc::kInterfaceDetailCbSize == sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
static_assert(pc::kInterfaceDetailPathOffset ==
              offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath));

// Interface classes and property keys, from the SDK's own DEFINE_ lines
static_assert(sameGuid(sdk_values::GUID_DEVINTERFACE_DISK, pc::kGuidDevinterfaceDisk));
static_assert(sameGuid(sdk_values::GUID_DEVINTERFACE_STORAGEPORT,
                       pc::kGuidDevinterfaceStoragePort));
static_assert(sameKey(sdk_values::DEVPKEY_Device_Parent, pc::kDevpkeyDeviceParent));
static_assert(sameKey(sdk_values::DEVPKEY_Device_InstanceId, pc::kDevpkeyDeviceInstanceId));
static_assert(sameKey(sdk_values::DEVPKEY_Device_DriverDesc, pc::kDevpkeyDeviceDriverDesc));
static_assert(sameKey(sdk_values::DEVPKEY_Device_LocationInfo, pc::kDevpkeyDeviceLocationInfo));

// Control codes
static_assert(pc::kIoctlStorageGetDeviceNumber == IOCTL_STORAGE_GET_DEVICE_NUMBER);
static_assert(pc::kIoctlStorageQueryProperty == IOCTL_STORAGE_QUERY_PROPERTY);
static_assert(pc::kIoctlScsiMiniport == IOCTL_SCSI_MINIPORT);

// --- SRB_IO_CONTROL (srb_io_control.hpp) ------------------------------------
namespace srb = zev::srb;
static_assert(srb::kHeaderLengthOffset == offsetof(SRB_IO_CONTROL, HeaderLength));
static_assert(srb::kSignatureOffset == offsetof(SRB_IO_CONTROL, Signature));
static_assert(srb::kSignatureSize == sizeof(SRB_IO_CONTROL::Signature));
static_assert(srb::kTimeoutOffset == offsetof(SRB_IO_CONTROL, Timeout));
static_assert(srb::kControlCodeOffset == offsetof(SRB_IO_CONTROL, ControlCode));
static_assert(srb::kReturnCodeOffset == offsetof(SRB_IO_CONTROL, ReturnCode));
static_assert(srb::kLengthOffset == offsetof(SRB_IO_CONTROL, Length));
static_assert(srb::kHeaderSize == sizeof(SRB_IO_CONTROL));

// --- NVME_IDENTIFY_CONTROLLER_DATA (identify_fields.hpp) ---------------------
namespace id = zev::identify;
using IdentifyData = NVME_IDENTIFY_CONTROLLER_DATA;
static_assert(id::kSnOffset == offsetof(IdentifyData, SN));
static_assert(id::kSnSize == sizeof(IdentifyData::SN));
static_assert(id::kMnOffset == offsetof(IdentifyData, MN));
static_assert(id::kMnSize == sizeof(IdentifyData::MN));
static_assert(id::kFrOffset == offsetof(IdentifyData, FR));
static_assert(id::kFrSize == sizeof(IdentifyData::FR));
// VER is NVME_VERSION: TER in bits 7:0, MNR in 15:8, MJR in 31:16.
static_assert(sizeof(IdentifyData::VER) == 4 && sizeof(NVME_VERSION) == 4);
static_assert(id::kVerMinorOffset == offsetof(IdentifyData, VER) + 1);
static_assert(id::kVerMajorOffset == offsetof(IdentifyData, VER) + 2);
static_assert(id::kFrmwOffset == offsetof(IdentifyData, FRMW));
static_assert(id::kFwugOffset == offsetof(IdentifyData, FWUG));
static_assert(id::kDataSize == sizeof(IdentifyData));

// --- Storage query records (storage_query_records.hpp) ----------------------
namespace st = zev::storage;
static_assert(st::kDeviceTypeOffset == offsetof(STORAGE_DEVICE_NUMBER, DeviceType));
static_assert(st::kDeviceNumberOffset == offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber));
static_assert(st::kPartitionNumberOffset == offsetof(STORAGE_DEVICE_NUMBER, PartitionNumber));
static_assert(st::kDeviceNumberSize == sizeof(STORAGE_DEVICE_NUMBER));

static_assert(st::kPropertyIdOffset == offsetof(STORAGE_PROPERTY_QUERY, PropertyId));
static_assert(st::kQueryTypeOffset == offsetof(STORAGE_PROPERTY_QUERY, QueryType));
static_assert(st::kProtocolSpecificOffset ==
              offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters));

using ProtocolData = STORAGE_PROTOCOL_SPECIFIC_DATA;
constexpr std::size_t kQueryProtocol = st::kProtocolSpecificOffset;
static_assert(st::kProtocolTypeOffset == kQueryProtocol + offsetof(ProtocolData, ProtocolType));
static_assert(st::kDataTypeOffset == kQueryProtocol + offsetof(ProtocolData, DataType));
static_assert(st::kRequestValueOffset ==
              kQueryProtocol + offsetof(ProtocolData, ProtocolDataRequestValue));
static_assert(st::kRequestSubValueOffset ==
              kQueryProtocol + offsetof(ProtocolData, ProtocolDataRequestSubValue));
static_assert(st::kProtocolDataOffsetOffset ==
              kQueryProtocol + offsetof(ProtocolData, ProtocolDataOffset));
static_assert(st::kProtocolDataLengthOffset ==
              kQueryProtocol + offsetof(ProtocolData, ProtocolDataLength));
static_assert(st::kProtocolSpecificSize == sizeof(ProtocolData));

// The reply: the descriptor, whose echoed protocol block sits where the
// query's did, with the data right after it.
static_assert(offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData) ==
              st::kProtocolSpecificOffset);
static_assert(st::kIdentifyDataOffset == sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR));

static_assert(st::kStorageAdapterProtocolSpecificProperty ==
              StorageAdapterProtocolSpecificProperty);
static_assert(st::kPropertyStandardQuery == PropertyStandardQuery);
static_assert(st::kProtocolTypeNvme == ProtocolTypeNvme);
static_assert(st::kNvmeDataTypeIdentify == NVMeDataTypeIdentify);

// --- The miniport firmware interface, as the Windows SDK publishes it -------
#ifndef FILE_DEVICE_SCSI
#define FILE_DEVICE_SCSI 0x0000001b
#endif
#ifndef IOCTL_SCSI_MINIPORT_FIRMWARE
#define IOCTL_SCSI_MINIPORT_FIRMWARE ((FILE_DEVICE_SCSI << 16) + 0x0780)
#endif
static_assert(pc::kIoctlScsiMiniportFirmware == IOCTL_SCSI_MINIPORT_FIRMWARE);

namespace published {

inline constexpr ULONG FIRMWARE_FUNCTION_GET_INFO = 0x01;
inline constexpr ULONG FIRMWARE_FUNCTION_DOWNLOAD = 0x02;
inline constexpr ULONG FIRMWARE_FUNCTION_ACTIVATE = 0x03;
inline constexpr ULONG FIRMWARE_REQUEST_BLOCK_STRUCTURE_VERSION = 0x1;
inline constexpr ULONG FIRMWARE_REQUEST_FLAG_CONTROLLER = 0x00000001;

inline constexpr ULONG FIRMWARE_STATUS_SUCCESS = 0x0;
inline constexpr ULONG FIRMWARE_STATUS_ERROR = 0x1;
inline constexpr ULONG FIRMWARE_STATUS_ILLEGAL_REQUEST = 0x2;
inline constexpr ULONG FIRMWARE_STATUS_INVALID_PARAMETER = 0x3;
inline constexpr ULONG FIRMWARE_STATUS_INPUT_BUFFER_TOO_BIG = 0x4;
inline constexpr ULONG FIRMWARE_STATUS_OUTPUT_BUFFER_TOO_SMALL = 0x5;
inline constexpr ULONG FIRMWARE_STATUS_INVALID_SLOT = 0x6;
inline constexpr ULONG FIRMWARE_STATUS_INVALID_IMAGE = 0x7;
inline constexpr ULONG FIRMWARE_STATUS_CONTROLLER_ERROR = 0x10;
inline constexpr ULONG FIRMWARE_STATUS_POWER_CYCLE_REQUIRED = 0x20;

inline constexpr ULONG STORAGE_FIRMWARE_DOWNLOAD_STRUCTURE_VERSION = 0x1;
inline constexpr ULONG STORAGE_FIRMWARE_DOWNLOAD_STRUCTURE_VERSION_V2 = 0x2;
inline constexpr ULONG STORAGE_FIRMWARE_ACTIVATE_STRUCTURE_VERSION = 0x1;

struct FIRMWARE_REQUEST_BLOCK {
  ULONG Version;
  ULONG Size;
  ULONG Function;
  ULONG Flags;
  ULONG DataBufferOffset;
  ULONG DataBufferLength;
};

struct STORAGE_FIRMWARE_SLOT_INFO {
  UCHAR SlotNumber;
  BOOLEAN ReadOnly;
  UCHAR Reserved[6];
  union {
    UCHAR Info[8];
    ULONGLONG AsUlonglong;
  } Revision;
};

struct STORAGE_FIRMWARE_INFO {
  ULONG Version;
  ULONG Size;
  BOOLEAN UpgradeSupport;
  UCHAR SlotCount;
  UCHAR ActiveSlot;
  UCHAR PendingActivateSlot;
  ULONG Reserved;
  STORAGE_FIRMWARE_SLOT_INFO Slot[ANYSIZE_ARRAY];
};

struct STORAGE_FIRMWARE_DOWNLOAD {
  ULONG Version;
  ULONG Size;
  ULONGLONG Offset;
  ULONGLONG BufferSize;
  UCHAR ImageBuffer[ANYSIZE_ARRAY];
};

struct STORAGE_FIRMWARE_DOWNLOAD_V2 {
  ULONG Version;
  ULONG Size;
  ULONGLONG Offset;
  ULONGLONG BufferSize;
  UCHAR Slot;
  UCHAR Reserved[3];
  ULONG ImageSize;
  UCHAR ImageBuffer[ANYSIZE_ARRAY];
};

struct STORAGE_FIRMWARE_ACTIVATE {
  ULONG Version;
  ULONG Size;
  UCHAR SlotToActivate;
  UCHAR Reserved0[3];
};

// The published sizes (x64), so that a slip in the declarations above shows.
static_assert(sizeof(FIRMWARE_REQUEST_BLOCK) == 24);
static_assert(sizeof(STORAGE_FIRMWARE_SLOT_INFO) == 16);
static_assert(sizeof(STORAGE_FIRMWARE_INFO) == 32);
static_assert(sizeof(STORAGE_FIRMWARE_DOWNLOAD) == 32);
static_assert(sizeof(STORAGE_FIRMWARE_DOWNLOAD_V2) == 40);
static_assert(sizeof(STORAGE_FIRMWARE_ACTIVATE) == 12);

}  // namespace published

namespace fw = zev::fw;
namespace pub = published;

static_assert(fw::kFunctionGetInfo == pub::FIRMWARE_FUNCTION_GET_INFO);
static_assert(fw::kFunctionDownload == pub::FIRMWARE_FUNCTION_DOWNLOAD);
static_assert(fw::kFunctionActivate == pub::FIRMWARE_FUNCTION_ACTIVATE);
static_assert(fw::kRequestFlagController == pub::FIRMWARE_REQUEST_FLAG_CONTROLLER);
static_assert(fw::kRequestBlockVersion == pub::FIRMWARE_REQUEST_BLOCK_STRUCTURE_VERSION);

static_assert(fw::kStatusSuccess == pub::FIRMWARE_STATUS_SUCCESS);
static_assert(fw::kStatusError == pub::FIRMWARE_STATUS_ERROR);
static_assert(fw::kStatusIllegalRequest == pub::FIRMWARE_STATUS_ILLEGAL_REQUEST);
static_assert(fw::kStatusInvalidParameter == pub::FIRMWARE_STATUS_INVALID_PARAMETER);
static_assert(fw::kStatusInputBufferTooBig == pub::FIRMWARE_STATUS_INPUT_BUFFER_TOO_BIG);
static_assert(fw::kStatusOutputBufferTooSmall == pub::FIRMWARE_STATUS_OUTPUT_BUFFER_TOO_SMALL);
static_assert(fw::kStatusInvalidSlot == pub::FIRMWARE_STATUS_INVALID_SLOT);
static_assert(fw::kStatusInvalidImage == pub::FIRMWARE_STATUS_INVALID_IMAGE);
static_assert(fw::kStatusControllerError == pub::FIRMWARE_STATUS_CONTROLLER_ERROR);
static_assert(fw::kStatusPowerCycleRequired == pub::FIRMWARE_STATUS_POWER_CYCLE_REQUIRED);

using pub::FIRMWARE_REQUEST_BLOCK;
static_assert(fw::kBlockVersionOffset == offsetof(FIRMWARE_REQUEST_BLOCK, Version));
static_assert(fw::kBlockSizeOffset == offsetof(FIRMWARE_REQUEST_BLOCK, Size));
static_assert(fw::kBlockFunctionOffset == offsetof(FIRMWARE_REQUEST_BLOCK, Function));
static_assert(fw::kBlockFlagsOffset == offsetof(FIRMWARE_REQUEST_BLOCK, Flags));
static_assert(fw::kBlockDataBufferOffsetOffset ==
              offsetof(FIRMWARE_REQUEST_BLOCK, DataBufferOffset));
static_assert(fw::kBlockDataBufferLengthOffset ==
              offsetof(FIRMWARE_REQUEST_BLOCK, DataBufferLength));
static_assert(fw::kRequestBlockSize == sizeof(FIRMWARE_REQUEST_BLOCK));

using pub::STORAGE_FIRMWARE_INFO;
using pub::STORAGE_FIRMWARE_SLOT_INFO;
static_assert(fw::kInfoUpgradeSupportOffset == offsetof(STORAGE_FIRMWARE_INFO, UpgradeSupport));
static_assert(fw::kInfoSlotCountOffset == offsetof(STORAGE_FIRMWARE_INFO, SlotCount));
static_assert(fw::kInfoActiveSlotOffset == offsetof(STORAGE_FIRMWARE_INFO, ActiveSlot));
static_assert(fw::kInfoPendingActivateSlotOffset ==
              offsetof(STORAGE_FIRMWARE_INFO, PendingActivateSlot));
static_assert(fw::kInfoSlotsOffset == offsetof(STORAGE_FIRMWARE_INFO, Slot));
static_assert(fw::kSlotNumberOffset == offsetof(STORAGE_FIRMWARE_SLOT_INFO, SlotNumber));
static_assert(fw::kSlotReadOnlyOffset == offsetof(STORAGE_FIRMWARE_SLOT_INFO, ReadOnly));
static_assert(fw::kSlotRevisionOffset == offsetof(STORAGE_FIRMWARE_SLOT_INFO, Revision));
static_assert(fw::kSlotRevisionSize == sizeof(STORAGE_FIRMWARE_SLOT_INFO::Revision));
static_assert(fw::kSlotInfoSize == sizeof(STORAGE_FIRMWARE_SLOT_INFO));

using pub::STORAGE_FIRMWARE_DOWNLOAD;
using pub::STORAGE_FIRMWARE_DOWNLOAD_V2;
static_assert(fw::kDownloadVersion == pub::STORAGE_FIRMWARE_DOWNLOAD_STRUCTURE_VERSION);
static_assert(fw::kDownloadVersionOffset == offsetof(STORAGE_FIRMWARE_DOWNLOAD, Version));
static_assert(fw::kDownloadSizeOffset == offsetof(STORAGE_FIRMWARE_DOWNLOAD, Size));
static_assert(fw::kDownloadOffsetOffset == offsetof(STORAGE_FIRMWARE_DOWNLOAD, Offset));
static_assert(fw::kDownloadBufferSizeOffset == offsetof(STORAGE_FIRMWARE_DOWNLOAD, BufferSize));
// Size carries the offset of ImageBuffer (24), not the padded sizeof (32).
static_assert(fw::kDownloadImageOffset == offsetof(STORAGE_FIRMWARE_DOWNLOAD, ImageBuffer));

static_assert(fw::kDownloadV2Version == pub::STORAGE_FIRMWARE_DOWNLOAD_STRUCTURE_VERSION_V2);
static_assert(fw::kDownloadVersionOffset == offsetof(STORAGE_FIRMWARE_DOWNLOAD_V2, Version));
static_assert(fw::kDownloadSizeOffset == offsetof(STORAGE_FIRMWARE_DOWNLOAD_V2, Size));
static_assert(fw::kDownloadOffsetOffset == offsetof(STORAGE_FIRMWARE_DOWNLOAD_V2, Offset));
static_assert(fw::kDownloadBufferSizeOffset == offsetof(STORAGE_FIRMWARE_DOWNLOAD_V2, BufferSize));
static_assert(fw::kDownloadV2SlotOffset == offsetof(STORAGE_FIRMWARE_DOWNLOAD_V2, Slot));
static_assert(fw::kDownloadV2ImageSizeOffset == offsetof(STORAGE_FIRMWARE_DOWNLOAD_V2, ImageSize));
static_assert(fw::kDownloadV2ImageOffset == offsetof(STORAGE_FIRMWARE_DOWNLOAD_V2, ImageBuffer));

using pub::STORAGE_FIRMWARE_ACTIVATE;
static_assert(fw::kActivateVersion == pub::STORAGE_FIRMWARE_ACTIVATE_STRUCTURE_VERSION);
static_assert(fw::kActivateVersionOffset == offsetof(STORAGE_FIRMWARE_ACTIVATE, Version));
static_assert(fw::kActivateSizeOffset == offsetof(STORAGE_FIRMWARE_ACTIVATE, Size));
static_assert(fw::kActivateSlotOffset == offsetof(STORAGE_FIRMWARE_ACTIVATE, SlotToActivate));
static_assert(fw::kActivateRecordSize == sizeof(STORAGE_FIRMWARE_ACTIVATE));

// The IRST firmware request reuses the records one drive address further on.
static_assert(zev::irst::kDataRecordOffset ==
              zev::irst::kRequestBlockOffset + sizeof(FIRMWARE_REQUEST_BLOCK));
static_assert(zev::irst::kDownloadImageOffset ==
              zev::irst::kDataRecordOffset + offsetof(STORAGE_FIRMWARE_DOWNLOAD_V2, ImageBuffer));
static_assert(zev::irst::kActivateRequestSize ==
              zev::irst::kDataRecordOffset + sizeof(STORAGE_FIRMWARE_ACTIVATE));

// --- NVMe commands (nvme_command.hpp) ---------------------------------------
// The submission queue entry is NVME_COMMAND; OPC is the low byte of CDW0.
namespace nvme = zev::nvme;
static_assert(nvme::kCommandSize == sizeof(NVME_COMMAND));
static_assert(nvme::kOpcodeOffset == offsetof(NVME_COMMAND, CDW0));
static_assert(nvme::kNsidOffset == offsetof(NVME_COMMAND, NSID));
static_assert(nvme::kCdw10Offset == offsetof(NVME_COMMAND, u.GENERAL.CDW10));
static_assert(nvme::kCdw11Offset == offsetof(NVME_COMMAND, u.GENERAL.CDW11));
static_assert(nvme::kOpcodeGetLogPage == NVME_ADMIN_COMMAND_GET_LOG_PAGE);
static_assert(nvme::kOpcodeIdentify == NVME_ADMIN_COMMAND_IDENTIFY);
static_assert(nvme::kOpcodeFirmwareCommit == NVME_ADMIN_COMMAND_FIRMWARE_COMMIT);
static_assert(nvme::kOpcodeFirmwareImageDownload == NVME_ADMIN_COMMAND_FIRMWARE_IMAGE_DOWNLOAD);
static_assert(nvme::kCnsController == NVME_IDENTIFY_CNS_CONTROLLER);
static_assert(nvme::kNsidAll == NVME_NAMESPACE_ALL);
static_assert(nvme::kMaxFirmwareSlots ==
              sizeof(NVME_FIRMWARE_SLOT_INFO_LOG::FRS) / sizeof(ULONGLONG));

// --- NVMe commands embedded in the Intel and VROC requests ------------------
// Both carry a whole NVME_COMMAND (submission entry); VROC's also a whole
// NVME_COMPLETION_ENTRY (CplEntry).
static_assert(sizeof(NVME_COMPLETION_ENTRY) == 16);

namespace intel = zev::intel;
static_assert(intel::kNvmCommandSetOffset - intel::kNvmCommandOffset == sizeof(NVME_COMMAND));
static_assert(intel::kIntelNvmRequestSize - intel::kNvmDataOffset ==
              sizeof(NVME_IDENTIFY_CONTROLLER_DATA));

namespace vroc = zev::vroc;
static_assert(vroc::kPtCompletionOffset - vroc::kPtCommandOffset == sizeof(NVME_COMMAND));
static_assert(vroc::kPtDirectionOffset - vroc::kPtCompletionOffset ==
              sizeof(NVME_COMPLETION_ENTRY));
static_assert(vroc::completionDwordOffset(3) - vroc::kPtCompletionOffset ==
              offsetof(NVME_COMPLETION_ENTRY, DW3));
// CplEntry[3]: CID in bits 15:0, then NVME_COMMAND_STATUS: the phase tag P in
// bit 16 and the status field from bit 17.
static_assert(offsetof(NVME_COMPLETION_ENTRY, DW3.Status) - offsetof(NVME_COMPLETION_ENTRY, DW3) ==
              2);
static_assert(sizeof(NVME_COMMAND_STATUS) == 2);
static_assert(vroc::kCompletionStatusShift == 16 + 1);
static_assert(vroc::kCommitActionReplaceActivateAtReset ==
              NVME_FIRMWARE_ACTIVATE_ACTION_DOWNLOAD_TO_SLOT_AND_ACTIVATE);
// Firmware Commit dword 10 (NVME_CDW10_FIRMWARE_ACTIVATE): FS in bits 2:0,
// the commit action from bit 3.
static_assert(sizeof(NVME_CDW10_FIRMWARE_ACTIVATE) == 4);
static_assert((vroc::kCommitDword10 & 0x7u) == vroc::kCommitSlot);
static_assert((vroc::kCommitDword10 >> 3) == vroc::kCommitActionReplaceActivateAtReset);

// The event log entry's types are ReportEventW's wType values.
static_assert(static_cast<WORD>(zev::platform::EventType::Error) == EVENTLOG_ERROR_TYPE);
static_assert(static_cast<WORD>(zev::platform::EventType::Warning) == EVENTLOG_WARNING_TYPE);
static_assert(static_cast<WORD>(zev::platform::EventType::Information) ==
              EVENTLOG_INFORMATION_TYPE);

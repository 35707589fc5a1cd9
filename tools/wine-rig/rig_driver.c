/* zevrig.sys: the emulated machine's driver for Wine's device host.
 *
 * Loaded by Wine as the kernel-driver service "zevrig" into winedevice.exe.
 * At start it creates only its control device (\\.\ZevRigControl). The
 * set-up program then sends the machine (IOCTL_ZEV_RIG_LOAD): the driver
 * builds the simulated machine (rig_machine.cpp) and creates one device
 * object per path of the machine's namespace, each reached through a
 * symbolic link: the interface path that Wine's SetupAPI gives the device
 * (the lower-case form of its Wine instance id), \\.\PHYSICALDRIVEn and \\.\ScsiN:. An open
 * of such a link becomes CreateFileW on the machine path it stands for, a
 * device request becomes the machine's DeviceIoControl, and the handle's
 * close its CloseHandle: the drives and drivers that answer are the ones
 * zev-sim uses.
 */
#include <ntddk.h>
#include <ntstrsafe.h>

#include "rig_bridge.h"

#define ZEV_RIG_TAG 0x67695a52 /* 'RZig' */

/* What a device object stands for: the control device, or one path of the
 * machine's namespace (its machine path, NUL-terminated). */
typedef struct {
  BOOLEAN control;
  WCHAR* machinePath;
} RIG_DEVICE;

static PDRIVER_OBJECT rigDriver;
static BOOLEAN machineLoaded;

/* A failed machine call's Win32 error as the NTSTATUS that Wine's
 * RtlNtStatusToDosError turns back into that same error, so that the caller
 * of CreateFileW or DeviceIoControl reads the error the machine chose. */
static NTSTATUS statusFromWin32(uint32_t error) {
  switch (error) {
    case 1:
      return STATUS_INVALID_DEVICE_REQUEST; /* ERROR_INVALID_FUNCTION */
    case 2:
      return STATUS_OBJECT_NAME_NOT_FOUND; /* ERROR_FILE_NOT_FOUND */
    case 5:
      return STATUS_ACCESS_DENIED; /* ERROR_ACCESS_DENIED */
    case 6:
      return STATUS_INVALID_HANDLE; /* ERROR_INVALID_HANDLE */
    case 87:
      return STATUS_INVALID_PARAMETER; /* ERROR_INVALID_PARAMETER */
    case 122:
      return STATUS_BUFFER_TOO_SMALL; /* ERROR_INSUFFICIENT_BUFFER */
    case 998:
      return STATUS_ACCESS_VIOLATION; /* ERROR_NOACCESS */
    case 1117:
      return STATUS_IO_DEVICE_ERROR; /* ERROR_IO_DEVICE */
    case 1784:
      return STATUS_INVALID_USER_BUFFER; /* ERROR_INVALID_USER_BUFFER */
    default:
      return (NTSTATUS)(0xC0070000u | (error & 0xFFFFu)); /* FACILITY_NTWIN32 */
  }
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

/* Creates \Device\ZevRig<index> and the link \DosDevices\<dosName> to it. A
 * link of that name that already exists (Wine's own \\.\PhysicalDrive0) is
 * removed first: the emulated machine owns its names. */
static NTSTATUS createPathDevice(ULONG index, const WCHAR* dosName, const WCHAR* machinePath,
                                 BOOLEAN control) {
  WCHAR deviceText[64];
  WCHAR linkText[512];
  UNICODE_STRING deviceName, linkName;
  PDEVICE_OBJECT device;
  RIG_DEVICE* extension;
  NTSTATUS status;
  size_t pathChars = 0;

  if (control) {
    RtlStringCbPrintfW(deviceText, sizeof(deviceText), L"\\Device\\ZevRigControl");
  } else {
    RtlStringCbPrintfW(deviceText, sizeof(deviceText), L"\\Device\\ZevRig%lu", index);
  }
  if (!NT_SUCCESS(RtlStringCbPrintfW(linkText, sizeof(linkText), L"\\DosDevices\\%ws", dosName))) {
    return STATUS_NAME_TOO_LONG;
  }
  RtlInitUnicodeString(&deviceName, deviceText);
  RtlInitUnicodeString(&linkName, linkText);

  status = IoCreateDevice(rigDriver, sizeof(RIG_DEVICE), &deviceName, FILE_DEVICE_UNKNOWN, 0, FALSE,
                          &device);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  extension = (RIG_DEVICE*)device->DeviceExtension;
  extension->control = control;
  extension->machinePath = NULL;
  if (machinePath != NULL) {
    while (machinePath[pathChars] != 0) {
      ++pathChars;
    }
    extension->machinePath =
        (WCHAR*)ExAllocatePoolWithTag(NonPagedPool, (pathChars + 1) * sizeof(WCHAR), ZEV_RIG_TAG);
    if (extension->machinePath == NULL) {
      IoDeleteDevice(device);
      return STATUS_NO_MEMORY;
    }
    RtlCopyMemory(extension->machinePath, machinePath, (pathChars + 1) * sizeof(WCHAR));
  }
  device->Flags |= DO_BUFFERED_IO;
  device->Flags &= ~DO_DEVICE_INITIALIZING;

  IoDeleteSymbolicLink(&linkName);
  status = IoCreateSymbolicLink(&linkName, &deviceName);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
  }
  return status;
}

/* IOCTL_ZEV_RIG_LOAD: the lines of the request, one at a time. */
static NTSTATUS loadMachine(WCHAR* text, ULONG chars, char* problem, size_t problemSize) {
  WCHAR* machineFile = NULL;
  WCHAR* imageFile = NULL;
  ULONG at = 0;
  ULONG links = 0;

  if (machineLoaded) {
    RtlStringCbPrintfA(problem, problemSize, "a machine is already loaded");
    return STATUS_INVALID_DEVICE_STATE;
  }
  /* Lines end at '\n'; the request is made NUL-separated in place. */
  for (at = 0; at < chars; ++at) {
    if (text[at] == L'\n') {
      text[at] = 0;
    }
  }
  for (at = 0; at < chars; at += (ULONG)wcslen(text + at) + 1) {
    if (wcsncmp(text + at, L"machine=", 8) == 0) {
      machineFile = text + at + 8;
    } else if (wcsncmp(text + at, L"image=", 6) == 0) {
      imageFile = text + at + 6;
    }
  }
  if (machineFile == NULL || imageFile == NULL) {
    RtlStringCbPrintfA(problem, problemSize, "the request names no machine or image file");
    return STATUS_INVALID_PARAMETER;
  }
  if (zev_rig_load(machineFile, imageFile, problem, problemSize) != 0) {
    return STATUS_INVALID_PARAMETER;
  }
  machineLoaded = TRUE;
  /* One device per "link=<DOS name>|<machine path>" line. */
  for (at = 0; at < chars; at += (ULONG)wcslen(text + at) + 1) {
    WCHAR* bar;
    NTSTATUS status;
    if (wcsncmp(text + at, L"link=", 5) != 0) {
      continue;
    }
    bar = wcschr(text + at + 5, L'|');
    if (bar == NULL) {
      RtlStringCbPrintfA(problem, problemSize, "a link line without '|'");
      return STATUS_INVALID_PARAMETER;
    }
    *bar = 0;
    status = createPathDevice(links++, text + at + 5, bar + 1, FALSE);
    if (!NT_SUCCESS(status)) {
      RtlStringCbPrintfA(problem, problemSize, "cannot create the device for %ws: 0x%08lx",
                         text + at + 5, (ULONG)status);
      return status;
    }
  }
  return STATUS_SUCCESS;
}

static NTSTATUS dispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  RIG_DEVICE* extension = (RIG_DEVICE*)device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG options = stack->Parameters.Create.Options;
  uint32_t error = 0;
  intptr_t handle;

  if (extension->control) {
    stack->FileObject->FsContext = NULL;
    return complete(irp, STATUS_SUCCESS, 0);
  }
  /* Wine's device host passes no security context with a create request, so
   * the access the caller asked for is not known here: the machine is given
   * read and write access (GENERIC_READ | GENERIC_WRITE). The share mode and
   * the disposition (the high byte of the create options) are the caller's. */
  handle = zev_rig_open(extension->machinePath, 0xC0000000u, stack->Parameters.Create.ShareAccess,
                        (options >> 24) & 0xFFu, options & 0x00FFFFFFu, &error);
  if (handle == -1) {
    return complete(irp, statusFromWin32(error), 0);
  }
  stack->FileObject->FsContext = (PVOID)handle;
  stack->FileObject->FsContext2 = (PVOID)1; /* a machine handle is held */
  return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS dispatchClose(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  (void)device;
  if (stack->FileObject != NULL && stack->FileObject->FsContext2 == (PVOID)1) {
    zev_rig_close((intptr_t)stack->FileObject->FsContext);
    stack->FileObject->FsContext2 = NULL;
  }
  return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS dispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  RIG_DEVICE* extension = (RIG_DEVICE*)device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
  void* buffer = irp->AssociatedIrp.SystemBuffer;
  uint32_t returned = 0;
  uint32_t error = 0;

  if (extension->control) {
    if (code == IOCTL_ZEV_RIG_LOAD) {
      char problem[512] = "";
      NTSTATUS status =
          loadMachine((WCHAR*)buffer, inSize / sizeof(WCHAR), problem, sizeof(problem));
      if (!NT_SUCCESS(status)) {
        /* The set-up program has loaded the same file with the same loader
         * before, so a problem here is rare; it goes to Wine's debug log. */
        DbgPrint("zevrig: %s\n", problem);
        return complete(irp, status, 0);
      }
      return complete(irp, STATUS_SUCCESS, 0);
    }
    if (code == IOCTL_ZEV_RIG_REPORT && inSize >= sizeof(int32_t) && machineLoaded) {
      int32_t exitStatus = *(const int32_t*)buffer;
      size_t length = zev_rig_report(exitStatus, NULL, 0);
      if (length > outSize) {
        return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      }
      zev_rig_report(exitStatus, (char*)buffer, outSize);
      return complete(irp, STATUS_SUCCESS, length);
    }
    return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }

  if (stack->FileObject == NULL || stack->FileObject->FsContext2 != (PVOID)1) {
    return complete(irp, STATUS_INVALID_HANDLE, 0);
  }
  /* Buffered I/O: the input is at the start of the system buffer, and the
   * reply is written over it. The machine copies the input before it writes
   * the reply. */
  if (!zev_rig_ioctl((intptr_t)stack->FileObject->FsContext, code, buffer, inSize, buffer, outSize,
                     &returned, &error)) {
    return complete(irp, statusFromWin32(error), 0);
  }
  return complete(irp, STATUS_SUCCESS, returned);
}

/* The image's entry point. Wine's loader calls it first as the DLL entry
 * point (module, reason, reserved) when the image imports from user-mode
 * DLLs, as this one does for the C and C++ runtimes; the device host then
 * calls it as DriverEntry (driver object, registry path). A reason is a small
 * number and a registry path is a pointer, which tells the two apart. */
NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath, void* reserved) {
  static BOOLEAN runtimeStarted;
  NTSTATUS status;

  if ((ULONG_PTR)registryPath < 0x10000) {
    zev_rig_runtime_attach(driver, (uint32_t)(ULONG_PTR)registryPath, reserved);
    if ((ULONG_PTR)registryPath == 1) {
      runtimeStarted = TRUE;
    }
    return 1; /* TRUE: the image stays loaded */
  }
  if (!runtimeStarted) {
    extern char __ImageBase; /* the image's own base address, from the linker */
    zev_rig_runtime_attach(&__ImageBase, 1, NULL);
    runtimeStarted = TRUE;
  }
  rigDriver = driver;
  driver->MajorFunction[IRP_MJ_CREATE] = dispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = dispatchClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatchControl;
  status = createPathDevice(0, L"ZevRigControl", NULL, TRUE);
  return status;
}

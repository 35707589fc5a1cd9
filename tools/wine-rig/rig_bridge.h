/* The rig driver's two halves: the kernel-side glue (rig_driver.c: device
 * objects, symbolic links, IRP dispatch) and the simulated machine
 * (rig_machine.cpp: the zevsim library). The glue calls the machine only
 * through these plain C functions, so that the driver headers and the C++
 * standard headers never meet in one translation unit.
 *
 * Control requests of the rig's control device \\.\ZevRigControl (buffered,
 * any access), sent by zev-rig-setup.exe:
 *   IOCTL_ZEV_RIG_LOAD    input: UTF-16 lines "machine=<file>", "image=<file>"
 *                         and "link=<DOS name>|<machine path>"; builds the
 *                         machine and one device object per link.
 *   IOCTL_ZEV_RIG_REPORT  input: the package's 32-bit exit status; output:
 *                         the report's JSON text (UTF-8).
 */
#ifndef ZEV_RIG_BRIDGE_H
#define ZEV_RIG_BRIDGE_H

#include <stddef.h>
#include <stdint.h>

#define ZEV_RIG_DEVICE_TYPE 0x8000u
#define ZEV_RIG_CTL(function) ((ZEV_RIG_DEVICE_TYPE << 16) | ((function) << 2))
#define IOCTL_ZEV_RIG_LOAD ZEV_RIG_CTL(0x800u)
#define IOCTL_ZEV_RIG_REPORT ZEV_RIG_CTL(0x801u)

#ifdef __cplusplus
extern "C" {
#endif

/* Builds the machine from a machine file and the package's image file (Wine
 * paths). Returns 0, or 1 with a one-line problem in error. */
int zev_rig_load(const wchar_t* machineFile, const wchar_t* imageFile, char* error,
                 size_t errorSize);

/* CreateFileW on the machine's path; returns the machine's handle, or -1 with
 * the Win32 error in *error. */
intptr_t zev_rig_open(const wchar_t* path, uint32_t access, uint32_t shareMode,
                      uint32_t disposition, uint32_t flags, uint32_t* error);

/* DeviceIoControl on a machine handle; returns 1 when delivered (reply in out,
 * its length in *returned), 0 with the Win32 error in *error. */
int zev_rig_ioctl(intptr_t handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                  uint32_t outSize, uint32_t* returned, uint32_t* error);

void zev_rig_close(intptr_t handle);

/* The report's JSON text for exitStatus; returns its length, copying it into
 * out when it fits in size. */
size_t zev_rig_report(int32_t exitStatus, char* out, size_t size);

/* Runs the C and C++ runtime start-up of the driver image once (static
 * constructors, the runtime's own state) before the machine is used. */
void zev_rig_runtime_attach(void* module, uint32_t reason, void* reserved);

#ifdef __cplusplus
}
#endif

#endif

// The PEI services table and PPI descriptor in their IA32 layout.
#pragma once

#include "Base.h"

using EFI_PEI_FILE_HANDLE = VOID*;

struct EFI_TABLE_HEADER {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
};
static_assert(sizeof(EFI_TABLE_HEADER) == 24);
static_assert(offsetof(EFI_TABLE_HEADER, Revision) == 8);

inline constexpr UINTN EFI_PEI_PPI_DESCRIPTOR_PPI = 0x00000010;
inline constexpr UINTN EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST = 0x80000000;

struct EFI_PEI_PPI_DESCRIPTOR {
  UINTN Flags;
  EFI_GUID* Guid;
  VOID* Ppi;
};
static_assert(sizeof(EFI_PEI_PPI_DESCRIPTOR) == 12, "three 32-bit fields");

struct EFI_PEI_SERVICES;

// The services this module calls have their full signatures; the others are
// kept as opaque entries so that the table has the standard layout.
using EFI_PEI_INSTALL_PPI = EFI_STATUS(EFIAPI*)(const EFI_PEI_SERVICES** PeiServices,
                                                 const EFI_PEI_PPI_DESCRIPTOR* PpiList);
using EFI_PEI_LOCATE_PPI = EFI_STATUS(EFIAPI*)(const EFI_PEI_SERVICES** PeiServices, const EFI_GUID* Guid,
                                                UINTN Instance, EFI_PEI_PPI_DESCRIPTOR** PpiDescriptor,
                                                VOID** Ppi);
using EFI_PEI_ALLOCATE_POOL = EFI_STATUS(EFIAPI*)(const EFI_PEI_SERVICES** PeiServices, UINTN Size,
                                                   VOID** Buffer);
using EFI_PEI_OTHER_SERVICE = EFI_STATUS(EFIAPI*)();

struct EFI_PEI_SERVICES {
  EFI_TABLE_HEADER Hdr;
  EFI_PEI_INSTALL_PPI InstallPpi;
  EFI_PEI_OTHER_SERVICE ReInstallPpi;
  EFI_PEI_LOCATE_PPI LocatePpi;
  EFI_PEI_OTHER_SERVICE NotifyPpi;
  EFI_PEI_OTHER_SERVICE GetBootMode;
  EFI_PEI_OTHER_SERVICE SetBootMode;
  EFI_PEI_OTHER_SERVICE GetHobList;
  EFI_PEI_OTHER_SERVICE CreateHob;
  EFI_PEI_OTHER_SERVICE FfsFindNextVolume;
  EFI_PEI_OTHER_SERVICE FfsFindNextFile;
  EFI_PEI_OTHER_SERVICE FfsFindSectionData;
  EFI_PEI_OTHER_SERVICE InstallPeiMemory;
  EFI_PEI_OTHER_SERVICE AllocatePages;
  EFI_PEI_ALLOCATE_POOL AllocatePool;
  EFI_PEI_OTHER_SERVICE CopyMem;
  EFI_PEI_OTHER_SERVICE SetMem;
  EFI_PEI_OTHER_SERVICE ReportStatusCode;
  EFI_PEI_OTHER_SERVICE ResetSystem;
  VOID* CpuIo;
  VOID* PciCfg;
  EFI_PEI_OTHER_SERVICE FfsFindFileByName;
  EFI_PEI_OTHER_SERVICE FfsGetFileInfo;
  EFI_PEI_OTHER_SERVICE FfsGetVolumeInfo;
  EFI_PEI_OTHER_SERVICE RegisterForShadow;
  EFI_PEI_OTHER_SERVICE FindSectionData3;
  EFI_PEI_OTHER_SERVICE FfsGetFileInfo2;
  EFI_PEI_OTHER_SERVICE ResetSystem2;
  EFI_PEI_OTHER_SERVICE FreePages;
};
static_assert(offsetof(EFI_PEI_SERVICES, InstallPpi) == 24);
static_assert(offsetof(EFI_PEI_SERVICES, LocatePpi) == 32);
static_assert(offsetof(EFI_PEI_SERVICES, AllocatePool) == 76);
static_assert(sizeof(EFI_PEI_SERVICES) == 136);

// The services table in guest memory and the trap behind it: each entry is a
// stub in the trap page, whose hook calls the stand-in PEI Foundation with
// the arguments on the module's stack.
#include "HexField.h"
#include "MachineState.h"

namespace ImageMode {
namespace {
constexpr const char* ServiceNames[ServiceCount] = {
    "InstallPpi",       "ReInstallPpi",       "LocatePpi",        "NotifyPpi",       "GetBootMode",
    "SetBootMode",      "GetHobList",         "CreateHob",        "FfsFindNextVolume", "FfsFindNextFile",
    "FfsFindSectionData", "InstallPeiMemory", "AllocatePages",    "AllocatePool",    "CopyMem",
    "SetMem",           "ReportStatusCode",   "ResetSystem",      "CpuIo",           "PciCfg",
    "FfsFindFileByName", "FfsGetFileInfo",    "FfsGetVolumeInfo", "RegisterForShadow", "FindSectionData3",
    "FfsGetFileInfo2",  "ResetSystem2",       "FreePages"};
constexpr uint32_t InstallPpiIndex = (offsetof(EFI_PEI_SERVICES, InstallPpi) - sizeof(EFI_TABLE_HEADER)) / 4;
constexpr uint32_t LocatePpiIndex = (offsetof(EFI_PEI_SERVICES, LocatePpi) - sizeof(EFI_TABLE_HEADER)) / 4;
constexpr uint32_t AllocatePoolIndex = (offsetof(EFI_PEI_SERVICES, AllocatePool) - sizeof(EFI_TABLE_HEADER)) / 4;
constexpr uint32_t CpuIoIndex = (offsetof(EFI_PEI_SERVICES, CpuIo) - sizeof(EFI_TABLE_HEADER)) / 4;
constexpr uint32_t PciCfgIndex = (offsetof(EFI_PEI_SERVICES, PciCfg) - sizeof(EFI_TABLE_HEADER)) / 4;
}  // namespace

void ImageMachine::State::Service(uint32_t Index) {
  const uint32_t Esp = Register(UC_X86_REG_ESP);
  uint32_t Frame[6] = {};  // return address, PeiServices, then the service's arguments
  if (uc_mem_read(Uc, Esp, Frame, sizeof Frame) != UC_ERR_OK) {
    StopWithFault("a service call with an unreadable stack at " + HexField(Esp));
    return;
  }
  const uint32_t Caller = Frame[0];
  Pei::Foundation& Foundation = Owner.Services;
  EFI_STATUS Status = EFI_UNSUPPORTED;
  auto Store = [&](uint32_t At, uint32_t Value) {
    if (uc_mem_write(Uc, At, &Value, sizeof Value) != UC_ERR_OK) {
      StopWithFault(std::string(ServiceNames[Index]) + " could not store its result at " + Owner.Where(At) +
                    " for the caller at " + Owner.Where(Caller));
    }
  };
  switch (Index) {
    case AllocatePoolIndex: {
      // As the in-process services do: a failed allocation leaves *Buffer alone.
      if (Frame[3] == 0) {
        Status = Foundation.AllocatePool(Frame[2], nullptr);
        break;
      }
      Pei::Address Block = 0;
      Status = Foundation.AllocatePool(Frame[2], &Block);
      if (Block != 0) {
        Store(Frame[3], Block);
      }
      break;
    }
    case InstallPpiIndex:
      Status = Foundation.InstallPpi(Frame[2]);
      break;
    case LocatePpiIndex: {
      EFI_GUID Guid{};
      if (Frame[2] == 0 || uc_mem_read(Uc, Frame[2], &Guid, sizeof Guid) != UC_ERR_OK) {
        Status = EFI_INVALID_PARAMETER;
        break;
      }
      Pei::Address Descriptor = 0, Ppi = 0;
      Status = Foundation.LocatePpi(Guid, Frame[3], &Descriptor, &Ppi);
      if (Status == EFI_SUCCESS && Frame[4] != 0) {
        Store(Frame[4], Descriptor);
      }
      if (Status == EFI_SUCCESS && Frame[5] != 0) {
        Store(Frame[5], Ppi);
      }
      break;
    }
    default:
      Foundation.NoteUnexpectedCall(Caller);
      StopWithFault(std::string("unexpected PEI service call: ") + ServiceNames[Index] + " from " + Owner.Where(Caller));
      break;
  }
  SetRegister(UC_X86_REG_EAX, static_cast<uint32_t>(Status));
}

void ImageMachine::StartFoundation(uint32_t Revision, const Pei::FailureSwitches& Fail) {
  State& Machine = *Emulator;
  Services.Reset({[](const void* Context, Pei::Address From, void* Into, UINT32 Size) {
                    return static_cast<const ImageMachine*>(Context)->Read(From, Into, Size);
                  },
                  this},
                 Machine.Pool.Data, Guest::PoolAt, Guest::PoolBytes, Fail);
  std::memset(Machine.Services.Data, 0, PageBytes);
  auto Word = [&](uint32_t At, uint32_t Value) { std::memcpy(Machine.Services.Data + (At - Guest::ServicesAt), &Value, 4); };
  Word(Guest::ServicesAt, TableAt);
  EFI_TABLE_HEADER Header{};
  Header.Signature = Pei::Foundation::ServicesSignature;
  Header.Revision = Revision;
  Header.HeaderSize = sizeof(EFI_PEI_SERVICES);
  std::memcpy(Machine.Services.Data + (TableAt - Guest::ServicesAt), &Header, sizeof Header);
  for (uint32_t Index = 0; Index < ServiceCount; ++Index) {
    // CpuIo and PciCfg are interface pointers, which this foundation does not offer.
    const bool Interface = Index == CpuIoIndex || Index == PciCfgIndex;
    Word(TableAt + sizeof(EFI_TABLE_HEADER) + 4 * Index, Interface ? 0 : Guest::TrapsAt + Index * TrapStride);
  }
}

void ImageMachine::SetRevision(uint32_t Revision) {
  std::memcpy(Emulator->Services.Data + (TableAt - Guest::ServicesAt) + offsetof(EFI_TABLE_HEADER, Revision), &Revision,
              sizeof Revision);
}

}  // namespace ImageMode

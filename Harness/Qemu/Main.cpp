// The run: load the image, set the scenario up, call the entry point on the
// painted stack, then check and report what the module left behind.
#include "Interrupts.h"
#include "Kernel.h"
#include "ModuleStack.h"
#include "NativeServices.h"
#include "Paging.h"
#include "PeLoader.h"
#include "Platform.h"
#include "Ppi/VersionString.h"
#include "Report.h"
#include "Scenario.h"
#include "TaskState.h"

extern "C" {
extern const UINT8 ModuleImage[];
extern const UINT8 ModuleImageEnd[];
extern const CHAR8 ModuleImageName[];
extern const UINT8 KernelLast[];
UINT8 KernelStack[16384];
ModuleCallState ModuleCall;
}

namespace {
constexpr UINT32 MultibootLoaderMagic = 0x2BADB002;
constexpr UINT32 MultibootInfoHasCommandLine = 0x4;
constexpr UINT32 MultibootInfoCommandLineField = 4;  // in 32-bit words
constexpr UINT32 LoadAddress = 0x00400000;           // the image base is 0, so every fix-up counts
constexpr UINT32 FileHandle = 0x0F11E000;            // passed through by the module, never used
constexpr UINT32 EflagsInterrupt = 0x200;
constexpr UINT32 EflagsDirection = 0x400;
constexpr UINT32 ArgumentBytes = 8;  // FileHandle and PeiServices, popped by the caller
constexpr CHAR8 Signature[] = "TORVA!V9";
constexpr CHAR8 Version[] = "OlvendPI-QX4 1.0.0.P";
constexpr UINT32 RecordBytes = 8;
constexpr UINT32 DescriptorBytes = 12;
constexpr UINT32 DescriptorFlags = EFI_PEI_PPI_DESCRIPTOR_PPI | EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST;

CHAR8 CommandLine[512];
LoadedImage Image;
constinit Pei::NativeServices Foundation{Pei::NativeServices::NotStartedYet{}};
bool Passed = true;

void Fail(const CHAR8* What) {
  Report::Text("check failed: ");
  Report::Text(What);
  Report::Text("\n");
  Passed = false;
}

void CopyCommandLine(UINT32 Magic, UINT32 InfoAddress) {
  if (Magic != MultibootLoaderMagic) {
    Report::Text("fault: not started by a multiboot loader\n");
    Finish(false);
  }
  const UINT32* Info = reinterpret_cast<const UINT32*>(InfoAddress);
  if ((Info[0] & MultibootInfoHasCommandLine) == 0) {
    return;
  }
  const CHAR8* Source = reinterpret_cast<const CHAR8*>(Info[MultibootInfoCommandLineField]);
  UINT32 Index = 0;
  while (Index + 1 < sizeof(CommandLine) && Source[Index] != 0) {
    CommandLine[Index] = Source[Index];
    ++Index;
  }
  CommandLine[Index] = 0;
}

// FNV-1a over the loaded image, to prove it unchanged even where no page
// fault could tell (a write through an alias, for example).
UINT32 Checksum() {
  UINT32 Hash = 0x811C9DC5;
  const UINT8* Bytes = reinterpret_cast<const UINT8*>(Image.Address);
  for (UINT32 Index = 0; Index < Image.Size; ++Index) {
    Hash = (Hash ^ Bytes[Index]) * 0x01000193;
  }
  return Hash;
}

bool SameText(const CHAR8* Text, const CHAR8* Expected, UINT32 Size) {
  for (UINT32 Index = 0; Index < Size; ++Index) {
    if (Text[Index] != Expected[Index]) {
      return false;
    }
  }
  return true;
}

void LoadModule() {
  const UINT32 FileSize = static_cast<UINT32>(ModuleImageEnd - ModuleImage);
  if (reinterpret_cast<UINT32>(KernelLast) > LoadAddress) {
    Report::Text("fault: the harness overlaps the load address\n");
    Finish(false);
  }
  if (const CHAR8* Refused = LoadImage(ModuleImage, FileSize, LoadAddress, Image)) {
    Report::Text("image: refused: ");
    Report::Text(Refused);
    Report::Text("\n");
    Finish(false);
  }
  Report::Text("info: image ");
  Report::Text(ModuleImageName);
  Report::Text(", ");
  Report::Decimal(FileSize);
  Report::Text(" bytes, base ");
  Report::Hex(Image.PreferredBase, 8);
  Report::Text(", loaded at ");
  Report::Hex(Image.Address, 8);
  Report::Text(" read-only, entry RVA ");
  Report::Hex(Image.Entry - Image.Address, 8);
  Report::Text(", ");
  Report::Decimal(Image.Relocations);
  Report::Text(" relocations applied\n");
  Paging::Protect(Image.Address, Image.Size, Paging::Access::ReadOnly);
  WatchImage(&Image);
}

void CheckCallingConvention(UINT32 StackTop) {
  const bool Preserved = ModuleCall.Ebx == EbxMarker && ModuleCall.Esi == EsiMarker && ModuleCall.Edi == EdiMarker &&
                         ModuleCall.Ebp == EbpMarker;
  const bool StackRestored = ModuleCall.Esp == StackTop - ArgumentBytes;
  if (!Preserved) {
    Fail("the entry point changed EBX, ESI, EDI or EBP");
  }
  if (!StackRestored) {
    Fail("the entry point returned with another stack pointer");
  }
  if ((ModuleCall.Eflags & EflagsDirection) != 0) {
    Fail("the entry point returned with the direction flag set");
  }
  if ((ModuleCall.Eflags & EflagsInterrupt) != 0) {
    Fail("the entry point returned with interrupts enabled");
  }
  Report::Text("registers: ");
  Report::Text(Preserved ? "callee-saved preserved" : "callee-saved changed");
  Report::Text(StackRestored ? ", esp restored" : ", esp moved");
  Report::Text((ModuleCall.Eflags & EflagsDirection) == 0 ? ", df clear" : ", df set");
  Report::Text((ModuleCall.Eflags & EflagsInterrupt) == 0 ? ", if clear\n" : ", if set\n");
}

void ReportGuid(const EFI_GUID& Guid) {
  Report::Hex(Guid.Data1, 8);
  Report::Text("-");
  Report::Hex(Guid.Data2, 4);
  Report::Text("-");
  Report::Hex(Guid.Data3, 4);
  Report::Text("-");
  for (UINT32 Index = 0; Index < 8; ++Index) {
    if (Index == 2) {
      Report::Text("-");
    }
    Report::Hex(Guid.Data4[Index], 2);
  }
}

// The pointer's target when it lies in the image, its value otherwise: the
// texts must stay in the image, and a wild pointer must not fault the report.
void ReportText(const CHAR8* Name, const CHAR8* Text) {
  Report::Text(Name);
  if (InImage(Image, reinterpret_cast<UINT32>(Text), 1)) {
    const UINT32 Room = Image.Address + Image.Size - reinterpret_cast<UINT32>(Text);
    Report::Quoted(Text, Room < 64 ? Room : 64);
  } else {
    Report::Text("outside-image:");
    Report::Hex(reinterpret_cast<UINT32>(Text), 8);
  }
}

void CheckPublishedRecord(EFI_STATUS Status) {
  EFI_PEI_PPI_DESCRIPTOR* Descriptor = nullptr;
  VersionStringPpi* Record = nullptr;
  if (Foundation.LocatePpi(VersionStringPpiGuid, 0, &Descriptor, reinterpret_cast<VOID**>(&Record)) != EFI_SUCCESS) {
    Report::Text("ppi: none\n");
    if (!EFI_ERROR(Status)) {
      Fail("success returned but no PPI under VersionStringPpiGuid");
    }
    return;
  }
  const UINT32 RecordAddress = reinterpret_cast<UINT32>(Record);
  const UINT32 DescriptorAddress = reinterpret_cast<UINT32>(Descriptor);
  if (!Foundation.IsBlock(DescriptorAddress, DescriptorBytes) || !Foundation.IsBlock(RecordAddress, RecordBytes)) {
    Fail("the descriptor and the record are not the 12- and 8-byte pool blocks");
    Report::Text("ppi: outside the pool\n");
    return;
  }
  Report::Text("ppi:");
  ReportText(" signature=", Record->Signature);
  ReportText(" version=", Record->VersionString);
  Report::DecimalField(" offset=", static_cast<UINT32>(Record->VersionString - Record->Signature));
  Report::HexField(" flags=", Descriptor->Flags, 8);
  Report::Text(" guid=");
  const bool GuidInImage = InImage(Image, reinterpret_cast<UINT32>(Descriptor->Guid), sizeof(EFI_GUID));
  if (GuidInImage) {
    ReportGuid(*Descriptor->Guid);
  } else {
    Report::Text("outside-image");
  }
  Report::Text("\n");

  const bool SignatureGood = InImage(Image, reinterpret_cast<UINT32>(Record->Signature), sizeof(Signature)) &&
                             SameText(Record->Signature, Signature, sizeof(Signature));
  const bool VersionGood = InImage(Image, reinterpret_cast<UINT32>(Record->VersionString), sizeof(Version)) &&
                           SameText(Record->VersionString, Version, sizeof(Version));
  if (!SignatureGood || !VersionGood || Record->VersionString - Record->Signature != sizeof(Signature)) {
    Fail("the record's texts are not the signature and version adjacent in the image");
  }
  if (Descriptor->Flags != DescriptorFlags || !GuidInImage) {
    Fail("the descriptor's flags or GUID pointer are wrong");
  }
  if (EFI_ERROR(Status)) {
    Fail("a PPI was installed although an error was returned");
  }
}

void ReportPool() {
  Report::DecimalField("pool: allocate-calls=", Foundation.AllocationCalls());
  Report::Text(" blocks=");
  for (UINT32 Index = 0; Index < Foundation.BlockCount(); ++Index) {
    Report::Text(Index == 0 ? "" : ",");
    Report::Decimal(Foundation.BlockAt(Index).Size);
  }
  Report::Text(Foundation.BlockCount() == 0 ? "none\n" : "\n");
  if (!Foundation.PoolTailUntouched()) {
    Fail("the module wrote to pool memory it was not given");
  }
  Report::DecimalField("services: install-ppi-calls=", Foundation.InstallCalls());
  Report::DecimalField(" installed=", Foundation.InstalledCount());
  Report::DecimalField(" unexpected=", Foundation.UnexpectedCalls());
  Report::Text("\n");
  if (Foundation.UnexpectedCalls() != 0) {
    Report::Text("info: last unexpected service call from ");
    DescribeAddress(Foundation.LastUnexpectedCaller());
    Report::Text("\n");
    Fail("the module called a PEI service other than AllocatePool and InstallPpi");
  }
}

void ReportUart(UINT16 Base) {
  const Uart::Registers Registers = Uart::Read(Base);
  Report::Text("uart ");
  Report::Hex(Base, 3);
  Report::HexField(": lcr=", Registers.Lcr, 2);
  Report::HexField(" divisor=", Registers.Divisor, 4);
  Report::HexField(" ier=", Registers.Ier, 2);
  Report::HexField(" iir=", Registers.Iir, 2);
  Report::HexField(" mcr=", Registers.Mcr, 2);
  Report::HexField(" lsr=", Registers.Lsr, 2);
  Report::Text("\n");
}

void ReportTraps() {
  Report::Text("traps: ");
  Report::Decimal(BreakpointCount());
  Report::Text("\n");
  for (UINT32 Index = 0; Index < BreakpointCount() && Index < RecordedBreakpoints; ++Index) {
    Report::Text("info: trap returned to ");
    DescribeAddress(BreakpointReturnAddress(Index));
    Report::Text("\n");
  }
}
}  // namespace

extern "C" void KernelMain(UINT32 Magic, UINT32 InfoAddress) {
  Report::Text("QelQemuFoundation: stand-in PEI Foundation\n");
  CopyCommandLine(Magic, InfoAddress);
  InstallTaskStates();
  InstallInterruptTable();
  Scenario Setup;
  if (const ScenarioError Error = ParseScenario(CommandLine, Setup); Error.Problem != nullptr) {
    Report::Text("fault: ");
    Report::Text(Error.Problem);
    Report::Text(": ");
    Report::Quoted(Error.Setting, Error.Length);
    Report::Text("\n");
    Finish(false);
  }
  DescribeScenario(Setup);
  Paging::Enable();
  ArmDoubleFaultTask();
  LoadModule();
  const UINT32 ImageChecksum = Checksum();
  Foundation.Start(Pei::NativeServices::DefaultRevision,
                   {Setup.FailingAllocation, EFI_OUT_OF_RESOURCES, Setup.InstallFails, Setup.InstallStatus});
  PrepareScenario(Setup);
  ModuleStack::Paint();

  MarkModuleRunStart(Setup);
  const EFI_STATUS Status = CallModuleEntry(Image.Entry, reinterpret_cast<EFI_PEI_FILE_HANDLE>(FileHandle),
                                            Foundation.Services(), ModuleStack::Top());
  MarkModuleRunEnd(Setup);

  Report::Text("status: ");
  Report::Hex(Status, 8);
  Report::Text("\n");
  if (Status != Setup.ExpectedStatus) {
    Fail("the entry point returned another status than expected");
  }
  CheckPublishedRecord(Status);
  ReportPool();
  CheckCallingConvention(ModuleStack::Top());
  ReportTraps();
  ReportUart(Uart::Com1);
  ReportUart(Uart::Com2);
  ReportPci(Setup);
  if (Checksum() != ImageChecksum) {
    Fail("the loaded image changed");
  }
  Report::Text("figure stack-high-water-bytes: ");
  Report::Decimal(ModuleStack::HighWaterMark());
  Report::Text("\n");
  Finish(Passed);
}

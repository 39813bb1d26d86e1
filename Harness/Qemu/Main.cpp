// The PEI core's run: read the scenario, find the firmware volumes in flash,
// dispatch every PEIM whose dependency expression holds, in place, then check
// and report what the module left behind.
#include "Core.h"
#include "FirmwareVolume.h"
#include "InPlace.h"
#include "Interrupts.h"
#include "ModuleStack.h"
#include "NativeServices.h"
#include "Paging.h"
#include "Platform.h"
#include "Processor.h"
#include "Ppi/VersionString.h"
#include "Report.h"
#include "Scenario.h"
#include "TaskState.h"
#include "TeImage.h"
#include "UartCheck.h"

extern "C" {
UINT8 CoreStack[16384];
ModuleCallState ModuleCall;
}

namespace {
constexpr UINT32 FlashBase = QEL_FLASH_BASE;  // the flash reaches up to 4 GiB
constexpr UINT32 VolumeScanStep = 4096;       // volumes start on block boundaries
constexpr UINT32 MaxPeims = 32;
constexpr UINT32 EflagsInterrupt = 0x200;
constexpr UINT32 EflagsDirection = 0x400;
constexpr UINT32 ArgumentBytes = 8;  // FileHandle and PeiServices, popped by the caller
constexpr CHAR8 Signature[] = "TORVA!V9";
constexpr CHAR8 Version[] = "OlvendPI-QX4 1.0.0.P";
constexpr UINT32 RecordBytes = 8;
constexpr UINT32 DescriptorBytes = 12;
constexpr UINT32 DescriptorFlags = EFI_PEI_PPI_DESCRIPTOR_PPI | EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST;

// A PEIM found in a sound file, waiting for its dependencies.
struct Peim {
  Ffs::File File;
  bool Done;
};

constinit Pei::NativeServices Foundation{Pei::NativeServices::NotStartedYet{}};
Peim Peims[MaxPeims];
UINT32 PeimCount;
// The run's checks are about the module dispatched first, the one under
// test; a PEIM that depends on what it installed runs after it, with checks
// of its own.
LoadedImage Image;
EFI_STATUS ModuleStatus;
ModuleCallState ModuleReturn;
UINT32 ModuleHighWater;
UINT32 ImageChecksum;
UINT32 Dispatched;
bool Passed = true;

// Where a TE image that was not rebased for its place in flash is copied and
// relocated; mapped read-only before it runs, as flash would be.
constexpr UINT32 RelocatedBytes = 64 * 1024;
constexpr UINT32 MaxRelocated = 2;
alignas(Paging::PageSize) UINT8 RelocatedImages[MaxRelocated][RelocatedBytes];
UINT32 RelocatedCount;

void Fail(const CHAR8* What) {
  Report::Text("check failed: ");
  Report::Text(What);
  Report::Text("\n");
  Passed = false;
}

// FNV-1a over the image in flash, to prove it unchanged even where no page
// fault could tell (a write through an alias, for example).
UINT32 Checksum() {
  UINT32 Hash = 0x811C9DC5;
  const UINT8* Bytes = reinterpret_cast<const UINT8*>(Image.Address);
  for (UINT32 Index = Image.Unbacked; Index < Image.Size; ++Index) {
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

// Fails the run for each rule of the calling convention that Call broke;
// returns whether the callee-saved registers and the stack pointer held.
bool CheckReturn(const ModuleCallState& Call, UINT32 StackTop, bool& StackRestored) {
  const bool Preserved =
      Call.Ebx == EbxMarker && Call.Esi == EsiMarker && Call.Edi == EdiMarker && Call.Ebp == EbpMarker;
  StackRestored = Call.Esp == StackTop - ArgumentBytes;
  if (!Preserved) {
    Fail("the entry point changed EBX, ESI, EDI or EBP");
  }
  if (!StackRestored) {
    Fail("the entry point returned with another stack pointer");
  }
  if ((Call.Eflags & EflagsDirection) != 0) {
    Fail("the entry point returned with the direction flag set");
  }
  if ((Call.Eflags & EflagsInterrupt) != 0) {
    Fail("the entry point returned with interrupts enabled");
  }
  return Preserved;
}

void CheckCallingConvention(UINT32 StackTop) {
  bool StackRestored;
  const bool Preserved = CheckReturn(ModuleReturn, StackTop, StackRestored);
  Report::Text("registers: ");
  Report::Text(Preserved ? "callee-saved preserved" : "callee-saved changed");
  Report::Text(StackRestored ? ", esp restored" : ", esp moved");
  Report::Text((ModuleReturn.Eflags & EflagsDirection) == 0 ? ", df clear" : ", df set");
  Report::Text((ModuleReturn.Eflags & EflagsInterrupt) == 0 ? ", if clear\n" : ", if set\n");
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
    Report::Guid(*Descriptor->Guid);
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

Uart::Registers ReportUart(UINT16 Base) {
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
  return Registers;
}

void CheckUart(UINT16 Base, const Uart::Registers& After, const Uart::Registers& Before, const Scenario& Setup) {
  if (const CHAR8* Why = UartMismatch(After, Before, Setup)) {
    Report::Text("check failed: uart ");
    Report::Hex(Base, 3);
    Report::Text(" ");
    Report::Text(Why);
    Report::Text("\n");
    Passed = false;
  }
}

void ReportTraps(const Scenario& Setup) {
  Report::Text("traps: ");
  Report::Decimal(BreakpointCount());
  Report::Text("\n");
  // A failed check that trapped is not a pass unless the scenario says so.
  if (BreakpointCount() != Setup.ExpectedTraps) {
    Report::DecimalField("check failed: trap count ", BreakpointCount());
    Report::DecimalField(", the scenario expects ", Setup.ExpectedTraps);
    Report::Text(" (expect-traps)\n");
    Passed = false;
  }
  for (UINT32 Index = 0; Index < BreakpointCount() && Index < RecordedBreakpoints; ++Index) {
    Report::Text("info: trap returned to ");
    DescribeAddress(BreakpointReturnAddress(Index));
    Report::Text("\n");
  }
}
void ReportFile(const CHAR8* Verb, const Ffs::File& Which) {
  Report::Text(Verb);
  Report::Text(" file ");
  Report::Guid(*Which.Name);
  Report::HexField(" at ", Which.Address, 8);
}

void SkipFile(const Ffs::File& Which, const CHAR8* Why, const CHAR8* Detail = nullptr) {
  ReportFile("skip:", Which);
  Report::Text(": ");
  Report::Text(Why);
  if (Detail != nullptr) {
    Report::Text(": ");
    Report::Text(Detail);
  }
  Report::Text("\n");
}

// Every file of the volume, up to its free space or to a file that breaks
// the walk; sound PEIMs join the dispatch list.
void WalkFiles(const Ffs::Volume& Volume) {
  UINT32 Offset = Volume.FirstFile;
  for (;;) {
    const Ffs::FileStep Step = Ffs::ReadFile(Volume, Offset);
    if (Step.Kind == Ffs::Step::End) {
      return;
    }
    if (Step.Kind == Ffs::Step::Broken) {
      Report::HexField("skip: file at ", Volume.Address + Offset, 8);
      Report::Text(": ");
      Report::Text(Step.Why);
      Report::Text("; the rest of the volume is not walked\n");
      return;
    }
    if (Step.Kind == Ffs::Step::Skip && Step.Why != nullptr) {
      SkipFile(Step.Found, Step.Why);
    }
    if (Step.Kind == Ffs::Step::Found && Step.Found.Type == Ffs::FileTypePeim) {
      if (PeimCount == MaxPeims) {
        SkipFile(Step.Found, "more PEIMs than the core keeps");
      } else {
        Peims[PeimCount++] = {Step.Found, false};
      }
    }
    Offset = Step.Next;
  }
}

// Volumes start on block boundaries anywhere in the flash; a bad header is
// reported and the search goes on at the next block.
void FindVolumes() {
  UINT64 Address = FlashBase;
  while (Address < (1ull << 32)) {
    const UINT32 At = static_cast<UINT32>(Address);
    if (!Ffs::HasVolumeSignature(At)) {
      Address += VolumeScanStep;
      continue;
    }
    Ffs::Volume Volume;
    if (const CHAR8* Why = Ffs::CheckVolume(At, static_cast<UINT32>((1ull << 32) - Address), Volume)) {
      Report::HexField("skip: volume at ", At, 8);
      Report::Text(": ");
      Report::Text(Why);
      Report::Text("\n");
      Address += VolumeScanStep;
      continue;
    }
    Report::HexField("info: volume at ", At, 8);
    Report::DecimalField(", ", Volume.Length);
    Report::Text(" bytes\n");
    WalkFiles(Volume);
    Address += (Volume.Length + VolumeScanStep - 1) & ~(VolumeScanStep - 1);
  }
}

// What a dependency expression asked for and did not find (the first such).
struct DepexLookup {
  bool Missed;
  EFI_GUID Missing;
};

bool PpiInstalled(const EFI_GUID& Guid, void* Context) {
  const bool Installed = Foundation.LocatePpi(Guid, 0, nullptr, nullptr) == EFI_SUCCESS;
  DepexLookup* Lookup = static_cast<DepexLookup*>(Context);
  if (!Installed && Lookup != nullptr && !Lookup->Missed) {
    *Lookup = {true, Guid};
  }
  return Installed;
}

// A PEIM never dispatched: which PPI its expression waited for, if one.
void SkipWaiting(const Ffs::File& Which) {
  const Ffs::FileSections Sections = Ffs::FindSections(Which);
  DepexLookup Lookup = {};
  Ffs::EvaluateDepex(reinterpret_cast<const UINT8*>(Sections.Depex.Address), Sections.Depex.Size, &PpiInstalled,
                     &Lookup);
  ReportFile("skip:", Which);
  Report::Text(": its dependency expression evaluates FALSE");
  if (Lookup.Missed) {
    Report::Text(": PPI ");
    Report::Guid(Lookup.Missing);
    Report::Text(" is not installed");
  }
  Report::Text("\n");
}

// The user-interface name as plain text: UCS-2 reduced to ASCII.
void ReportName(const Ffs::Span& Name) {
  CHAR8 Text[48] = {};
  const UINT8* Characters = reinterpret_cast<const UINT8*>(Name.Address);
  UINT32 Count = 0;
  for (; Count + 1 < sizeof(Text) && 2 * Count + 1 < Name.Size; ++Count) {
    const UINT16 Character = static_cast<UINT16>(Characters[2 * Count] | (Characters[2 * Count + 1] << 8));
    if (Character == 0) {
      break;
    }
    Text[Count] = Character < 0x80 ? static_cast<CHAR8>(Character) : '?';
  }
  Report::Quoted(Text, Count);
}

// Runs the PEIM's image where LoadPeim found it: in place, or in the RAM it
// was relocated into (then it runs elsewhere than its image base says).
void Run(const Ffs::File& Which, const Ffs::FileSections& Sections, const LoadedImage& Loaded, const Scenario& Setup) {
  ReportFile("dispatch:", Which);
  if (Sections.Name.Address != 0) {
    Report::Text(" ");
    ReportName(Sections.Name);
  }
  Report::Text("\n");
  Report::Text(Sections.Pe32.Address != 0 ? "info: PE32" : "info: TE");
  Report::HexField(" image at ", Loaded.Address + Loaded.Unbacked, 8);
  Report::DecimalField(", ", Loaded.Size - Loaded.Unbacked);
  Report::Text(" bytes");
  if (Loaded.Unbacked != 0) {
    Report::HexField(", image base ", Loaded.Address, 8);
  }
  Report::HexField(", entry ", Loaded.Entry, 8);
  if (Loaded.Address != Loaded.PreferredBase) {
    Report::DecimalField(", relocated into read-only RAM with ", Loaded.Relocations);
    Report::Text(" fix-ups\n");
  } else {
    Report::Text(", run in place from read-only flash\n");
  }
  const EFI_PEI_FILE_HANDLE Handle = reinterpret_cast<EFI_PEI_FILE_HANDLE>(Which.Address);
  if (Dispatched++ == 0) {
    Image = Loaded;
    WatchImage(&Image);
    ModuleStack::Paint();
    ImageChecksum = Checksum();
    MarkModuleRunStart(Setup);
    ModuleStatus = CallModuleEntry(Image.Entry, Handle, Foundation.Services(), ModuleStack::Top());
    MarkModuleRunEnd(Setup);
    ModuleReturn = ModuleCall;
    ModuleHighWater = ModuleStack::HighWaterMark();
    return;
  }
  // A later PEIM: its status and calling convention, then back to the module.
  WatchImage(&Loaded);
  ModuleStack::Paint();
  const EFI_STATUS Status = CallModuleEntry(Loaded.Entry, Handle, Foundation.Services(), ModuleStack::Top());
  WatchImage(&Image);
  bool StackRestored;
  CheckReturn(ModuleCall, ModuleStack::Top(), StackRestored);
  Report::Text("returned: ");
  Report::Hex(Status, 8);
  if (Sections.Name.Address != 0) {
    Report::Text(" from ");
    ReportName(Sections.Name);
  }
  Report::Text("\n");
}

// Finds where the PEIM's image runs: a PE32 or TE rebased for its place in
// flash runs there; a TE as linked is copied into RAM and relocated.
const CHAR8* LoadPeim(const Ffs::FileSections& Sections, LoadedImage& Loaded) {
  if (Sections.Pe32.Address != 0) {
    return CheckImageInPlace(Sections.Pe32.Address, Sections.Pe32.Size, Loaded);
  }
  const UINT8* Header = reinterpret_cast<const UINT8*>(Sections.Te.Address);
  TeImage::Layout Layout;
  if (const CHAR8* Why = TeImage::Check(Header, Sections.Te.Size, Layout)) {
    return Why;
  }
  if (Layout.ImageBase == TeImage::BaseFor(Sections.Te.Address, Layout)) {
    TeImage::Describe(Sections.Te.Address, Sections.Te.Size, Layout, Loaded);
    return nullptr;
  }
  if (RelocatedCount == MaxRelocated) {
    return "more TE images to relocate than the core has room for";
  }
  UINT8* Destination = RelocatedImages[RelocatedCount];
  if (const CHAR8* Why = TeImage::Relocate(Header, Sections.Te.Size, Layout, Destination, RelocatedBytes, Loaded)) {
    return Why;
  }
  ++RelocatedCount;
  Paging::Protect(Loaded.Address, Loaded.Size, Paging::Access::ReadOnly);
  return nullptr;
}

// Decides about one waiting PEIM: true when it is done with (run or refused),
// false while its dependency expression does not hold.
bool TryDispatch(const Ffs::File& Which, const Scenario& Setup) {
  const Ffs::FileSections Sections = Ffs::FindSections(Which);
  if (Sections.Problem != nullptr) {
    SkipFile(Which, Sections.Problem);
    return true;
  }
  if (Sections.Pe32.Address == 0 && Sections.Te.Address == 0) {
    SkipFile(Which, "a PEIM without a PE32 section");
    return true;
  }
  // A PEIM without a dependency section depends on nothing.
  if (Sections.Depex.Address != 0) {
    const Ffs::Evaluation Depex =
        Ffs::EvaluateDepex(reinterpret_cast<const UINT8*>(Sections.Depex.Address), Sections.Depex.Size,
                           &PpiInstalled, nullptr);
    if (Depex.Result == Ffs::Verdict::Malformed) {
      SkipFile(Which, "its dependency expression is malformed", Depex.Why);
      return true;
    }
    if (Depex.Result == Ffs::Verdict::False) {
      return false;
    }
  }
  LoadedImage Loaded;
  if (const CHAR8* Why = LoadPeim(Sections, Loaded)) {
    SkipFile(Which, Sections.Pe32.Address != 0 ? "its PE32 cannot run in place" : "its TE image cannot run", Why);
    return true;
  }
  Run(Which, Sections, Loaded, Setup);
  return true;
}

// Passes over the waiting PEIMs until one pass dispatches none: a PEIM may
// depend on a PPI that a later one installs.
void DispatchPeims(const Scenario& Setup) {
  for (bool Progress = true; Progress;) {
    Progress = false;
    for (UINT32 Index = 0; Index < PeimCount; ++Index) {
      if (!Peims[Index].Done && TryDispatch(Peims[Index].File, Setup)) {
        Peims[Index].Done = true;
        Progress = true;
      }
    }
  }
  for (UINT32 Index = 0; Index < PeimCount; ++Index) {
    if (!Peims[Index].Done) {
      SkipWaiting(Peims[Index].File);
    }
  }
}
}  // namespace

extern "C" void CoreMain() {
  Report::Text("QelPeiCore: PEI core from flash\n");
  InstallTaskStates();
  InstallInterruptTable();
  if (!Processor::HasCmov()) {
    // Said on COM1 too: nothing else would tell a person at the terminal.
    Report::Both("fault: this processor lacks CMOV (CPUID leaf 1, EDX bit 15), which the module's code uses: "
                 "it needs an i686 (P6) processor or later\n");
    Finish(false);
  }
  Scenario Setup;
  ReadScenario(Setup);
  DescribeScenario(Setup);
  Paging::Enable(FlashBase);
  ArmDoubleFaultTask();
  Pei::FailureSwitches Failing = Pei::FailureSwitches::Allocation(Setup.FailingAllocation, Setup.AllocationStatus);
  if (Setup.InstallFails) {
    Failing = Failing.WithInstall(Setup.InstallStatus);
  }
  Foundation.Start(Pei::NativeServices::DefaultRevision, Failing);
  CheckScenarioFits(Setup, AssignPciResources());
  PrepareScenario(Setup);
  // Read only when the verdict needs them, so that no other run sees the
  // harness touch the UARTs before the module does.
  Uart::Registers Com1Before = {};
  Uart::Registers Com2Before = {};
  if (Setup.ExpectedUarts == UartExpectation::Untouched) {
    Com1Before = Uart::Read(Uart::Com1);
    Com2Before = Uart::Read(Uart::Com2);
  }

  FindVolumes();
  DispatchPeims(Setup);
  if (Dispatched == 0) {
    Report::Text("fault: no PEIM was dispatched\n");
    Finish(false);
  }

  Report::Text("status: ");
  Report::Hex(ModuleStatus, 8);
  Report::Text("\n");
  if (ModuleStatus != Setup.ExpectedStatus) {
    Fail("the entry point returned another status than expected");
  }
  CheckPublishedRecord(ModuleStatus);
  ReportPool();
  CheckCallingConvention(ModuleStack::Top());
  ReportTraps(Setup);
  const Uart::Registers Com1After = ReportUart(Uart::Com1);
  const Uart::Registers Com2After = ReportUart(Uart::Com2);
  CheckUart(Uart::Com1, Com1After, Com1Before, Setup);
  CheckUart(Uart::Com2, Com2After, Com2Before, Setup);
  ReportPci(Setup);
  if (Checksum() != ImageChecksum) {
    Fail("the image in flash changed");
  }
  Report::Text("figure stack-high-water-bytes: ");
  Report::Decimal(ModuleHighWater);
  Report::Text("\n");
  Finish(Passed);
}

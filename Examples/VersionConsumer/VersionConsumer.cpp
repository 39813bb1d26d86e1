// VersionConsumer: an example PEIM that finds the firmware package's version
// record through the PEI Foundation, checks it and says what it found on the
// debug console (port 0xE9, as QEMU's and Bochs's debug consoles take it).
//
// It needs nothing of QelVersionPei but its public header. Its dependency
// expression (PUSH VersionStringPpiGuid END) makes the PEI Foundation
// dispatch it only once the record is installed. To use it elsewhere, take
// the services table from your framework's PI headers instead of the part
// declared here, and your own console.
#include "Ppi/VersionString.h"

namespace {
// EFI_PEI_SERVICES as far as this module uses it: the 24-byte table header,
// then InstallPpi, ReInstallPpi and LocatePpi.
struct PeiServicesHead;
using LocatePpiService = EFI_STATUS(EFIAPI*)(const PeiServicesHead** PeiServices, const EFI_GUID* Guid,
                                              UINTN Instance, VOID** Descriptor, VOID** Ppi);
struct PeiServicesHead {
  UINT8 TableHeader[24];
  VOID* InstallPpi;
  VOID* ReInstallPpi;
  LocatePpiService LocatePpi;
};

constexpr CHAR8 ExpectedSignature[] = "TORVA!V9";
constexpr UINTN LongestVersion = 64;  // a version text longer than this is no text
constexpr UINT16 DebugConsole = 0xE9;

void Put(CHAR8 Character) {
  __asm__ __volatile__("outb %0, %1" : : "a"(static_cast<UINT8>(Character)), "Nd"(DebugConsole));
}

void Say(const CHAR8* Text) {
  while (*Text != 0) {
    Put(*Text++);
  }
}

void SayHex(UINT32 Value) {
  for (int Shift = 28; Shift >= 0; Shift -= 4) {
    Put("0123456789ABCDEF"[(Value >> Shift) & 0xF]);
  }
}

// Whether Text is printable ASCII ending within Limit characters.
bool IsText(const CHAR8* Text, UINTN Limit) {
  if (Text == nullptr) {
    return false;
  }
  for (UINTN Index = 0; Index <= Limit; ++Index) {
    if (Text[Index] == 0) {
      return Index != 0;
    }
    if (Text[Index] < 0x20 || Text[Index] > 0x7E) {
      return false;
    }
  }
  return false;
}

bool SameText(const CHAR8* Text, const CHAR8* Expected) {
  for (; *Expected != 0; ++Text, ++Expected) {
    if (*Text != *Expected) {
      return false;
    }
  }
  return *Text == 0;
}
}  // namespace

extern "C" EFI_STATUS EFIAPI ModuleEntry(VOID* /*FileHandle*/, const PeiServicesHead** PeiServices) {
  VersionStringPpi* Record = nullptr;
  const EFI_STATUS Status =
      (*PeiServices)->LocatePpi(PeiServices, &VersionStringPpiGuid, 0, nullptr, reinterpret_cast<VOID**>(&Record));
  if (Status != EFI_SUCCESS || Record == nullptr) {
    Say("VersionConsumer: no VersionStringPpi (LocatePpi returned ");
    SayHex(static_cast<UINT32>(Status));
    Say(")\n");
    return Status != EFI_SUCCESS ? Status : EFI_NOT_FOUND;
  }
  if (!IsText(Record->Signature, sizeof(ExpectedSignature)) || !SameText(Record->Signature, ExpectedSignature)) {
    Say("VersionConsumer: VersionStringPpi found, but its signature is not \"TORVA!V9\"\n");
    return EFI_INCOMPATIBLE_VERSION;
  }
  if (!IsText(Record->VersionString, LongestVersion)) {
    Say("VersionConsumer: VersionStringPpi found, but its version is not a text of at most 64 characters\n");
    return EFI_COMPROMISED_DATA;
  }
  Say("VersionConsumer: VersionStringPpi found: signature \"");
  Say(Record->Signature);
  Say("\", version \"");
  Say(Record->VersionString);
  Say("\"\n");
  return EFI_SUCCESS;
}

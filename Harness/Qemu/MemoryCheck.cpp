// The refusal of a machine with too little memory for the core, named with
// the minimum: the alternative is a triple fault that exits like a pass.
#include "Core.h"
#include "Report.h"

namespace {
constexpr UINT32 MiB = 1u << 20;

// Appends Value in decimal at Line[Used], returning the new length.
UINT32 PutDecimal(CHAR8* Line, UINT32 Used, UINT32 Value) {
  CHAR8 Reversed[10];
  UINT32 Count = 0;
  do {
    Reversed[Count++] = static_cast<CHAR8>('0' + Value % 10);
    Value /= 10;
  } while (Value != 0);
  while (Count-- > 0) {
    Line[Used++] = Reversed[Count];
  }
  return Used;
}

UINT32 PutText(CHAR8* Line, UINT32 Used, const CHAR8* Text) {
  while (*Text != 0) {
    Line[Used++] = *Text++;
  }
  return Used;
}
}  // namespace

extern "C" void RefuseMemory(UINT32 RamTop) {
  const UINT32 Needed = reinterpret_cast<UINT32>(CoreBssEnd);
  CHAR8 Line[96];
  UINT32 Used = PutText(Line, 0, "fault: too little memory: ");
  Used = PutDecimal(Line, Used, RamTop / MiB);
  Used = PutText(Line, Used, " MiB, the core needs at least ");
  Used = PutDecimal(Line, Used, (Needed + MiB - 1) / MiB);
  Used = PutText(Line, Used, " MiB\n");
  Line[Used] = 0;
  Report::Text("QelPeiCore: PEI core from flash\n");
  // Said on COM1 too: nothing else would tell a person at the terminal.
  Report::Both(Line);
  Finish(false);
}

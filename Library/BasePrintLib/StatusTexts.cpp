// The names that "%r" prints for status values.
#include "PrintLibInternal.h"

constexpr const CHAR8* StatusTextTable[StatusWarningCount + StatusErrorCount] = {
    "Success",                   //  0: warnings 0..5
    "Warning Unknown Glyph",     //
    "Warning Delete Failure",    //
    "Warning Write Failure",     //
    "Warning Buffer Too Small",  //
    "Warning Stale Data",        //
    "Load Error",                //  6: errors 1..33
    "Invalid Parameter",         //
    "Unsupported",               //
    "Bad Buffer Size",           //
    "Buffer Too Small",          //
    "Not Ready",                 //
    "Device Error",              //
    "Write Protected",           //
    "Out of Resources",          //
    "Volume Corrupt",            //
    "Volume Full",               //
    "No Media",                  //
    "Media changed",             //
    "Not Found",                 //
    "Access Denied",             //
    "No Response",               //
    "No mapping",                //
    "Time out",                  //
    "Not started",               //
    "Already started",           //
    "Aborted",                   //
    "ICMP Error",                //
    "TFTP Error",                //
    "Protocol Error",            //
    "Incompatible Version",      //
    "Security Violation",        //
    "CRC Error",                 //
    "End of Media",              //
    "Reserved (29)",             //
    "Reserved (30)",             //
    "End of File",               //
    "Invalid Language",          //
    "Compromised Data",          // 38: error 33
};

namespace {
constexpr UINTN PackedLength() {
  UINTN Length = 0;
  for (const CHAR8* Name : StatusTextTable) {
    do {
      ++Length;
    } while (*Name++ != 0);
  }
  return Length;
}

struct PackedNames {
  CHAR8 Text[PackedLength()];
};

constexpr PackedNames Pack() {
  PackedNames Packed{};
  UINTN At = 0;
  for (const CHAR8* Name : StatusTextTable) {
    do {
      Packed.Text[At++] = *Name;
    } while (*Name++ != 0);
  }
  return Packed;
}

// The same names one after another, each with its terminator: the engine
// finds a row by walking them, so the image needs no table of pointers (and
// no relocation for each).
constexpr PackedNames StatusNames = Pack();
}  // namespace

const CHAR8* StatusName(UINTN Row) {
  const CHAR8* Name = StatusNames.Text;
  for (; Row != 0; --Row) {
    while (*Name++ != 0) {
    }
  }
  return Name;
}

// Volume headers, the file walk with its checksums and state bits, sections
// and the dependency-expression evaluator.
#include "FirmwareVolume.h"

namespace Ffs {
namespace {
constexpr UINT32 VolumeSignature = 0x4856465F;  // "_FVH"
constexpr UINT32 VolumeSignatureOffset = 40;
constexpr UINT32 VolumeHeaderBytes = 56;
constexpr UINT32 BlockMapEntryBytes = 8;
constexpr UINT8 VolumeRevision = 2;
constexpr UINT32 ErasePolarityAttribute = 0x00000800;
constexpr EFI_GUID FileSystem2 = {0x8C8CE578, 0x8A3D, 0x4F1C, {0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3}};

constexpr UINT32 FileHeaderBytes = 24;
constexpr UINT32 LargeFileHeaderBytes = 32;
constexpr UINT32 FileAlignment = 8;
constexpr UINT8 LargeFile = 0x01;
constexpr UINT8 DataChecksumAttribute = 0x40;
constexpr UINT8 FixedChecksum = 0xAA;
constexpr UINT32 FileChecksumOffset = 17;
constexpr UINT32 StateOffset = 23;
// State bits as set bits; an erase-polarity-1 volume stores them inverted.
// The highest set bit is the file's state.
constexpr UINT8 HeaderValid = 0x02;
constexpr UINT8 DataValid = 0x04;
constexpr UINT8 Deleted = 0x10;
constexpr UINT8 HeaderInvalid = 0x20;

constexpr UINT32 SectionHeaderBytes = 4;
constexpr UINT32 ExtendedSectionHeaderBytes = 8;
constexpr UINT32 ExtendedSize = 0xFFFFFF;
constexpr UINT32 SectionAlignment = 4;

constexpr UINT8 OpBefore = 0x00;
constexpr UINT8 OpAfter = 0x01;
constexpr UINT8 OpPush = 0x02;
constexpr UINT8 OpAnd = 0x03;
constexpr UINT8 OpOr = 0x04;
constexpr UINT8 OpNot = 0x05;
constexpr UINT8 OpTrue = 0x06;
constexpr UINT8 OpFalse = 0x07;
constexpr UINT8 OpEnd = 0x08;
constexpr UINT8 OpSor = 0x09;
constexpr UINT32 DepexStackDepth = 16;

const UINT8* Bytes(UINT32 Address) { return reinterpret_cast<const UINT8*>(static_cast<UINTN>(Address)); }
UINT16 Read16(const UINT8* At) { return static_cast<UINT16>(At[0] | (At[1] << 8)); }
UINT32 Read24(const UINT8* At) { return At[0] | (At[1] << 8) | (static_cast<UINT32>(At[2]) << 16); }
UINT32 Read32(const UINT8* At) { return Read16(At) | (static_cast<UINT32>(Read16(At + 2)) << 16); }
bool Within(UINT32 Offset, UINT32 Size, UINT32 Limit) { return Offset <= Limit && Size <= Limit - Offset; }
UINT32 AlignUp(UINT32 Value, UINT32 Alignment) { return (Value + Alignment - 1) & ~(Alignment - 1); }

bool SameGuidBytes(const UINT8* At, const EFI_GUID& Guid) {
  const UINT8* Expected = reinterpret_cast<const UINT8*>(&Guid);
  for (UINT32 Index = 0; Index < sizeof(EFI_GUID); ++Index) {
    if (At[Index] != Expected[Index]) {
      return false;
    }
  }
  return true;
}

UINT8 HighestBit(UINT8 Value) {
  UINT8 Bit = 0x80;
  while (Bit != 0 && (Value & Bit) == 0) {
    Bit = static_cast<UINT8>(Bit >> 1);
  }
  return Bit;
}
}  // namespace

bool HasVolumeSignature(UINT32 Address) { return Read32(Bytes(Address) + VolumeSignatureOffset) == VolumeSignature; }

const CHAR8* CheckVolume(UINT32 Address, UINT32 Room, Volume& Found) {
  Found = {};
  const UINT8* Header = Bytes(Address);
  if (Room < VolumeHeaderBytes || !HasVolumeSignature(Address)) {
    return "no volume header";
  }
  const UINT32 LengthLow = Read32(Header + 32);
  const UINT32 LengthHigh = Read32(Header + 36);
  const UINT32 Attributes = Read32(Header + 44);
  const UINT32 HeaderLength = Read16(Header + 48);
  const UINT32 ExtHeaderOffset = Read16(Header + 52);
  if (LengthHigh != 0 || LengthLow > Room) {
    return "its length runs past the end of the flash";
  }
  if (HeaderLength < VolumeHeaderBytes + 2 * BlockMapEntryBytes || HeaderLength % 2 != 0 || HeaderLength > LengthLow) {
    return "its header length is wrong";
  }
  UINT16 Sum = 0;
  for (UINT32 Offset = 0; Offset < HeaderLength; Offset += 2) {
    Sum = static_cast<UINT16>(Sum + Read16(Header + Offset));
  }
  if (Sum != 0) {
    return "its header checksum is wrong";
  }
  if (!SameGuidBytes(Header + 16, FileSystem2)) {
    return "its file system is not FFS2";
  }
  if (Header[55] != VolumeRevision) {
    return "its header revision is not 2";
  }
  // The block map, ended by a zero entry, must describe exactly the volume.
  UINT32 Described = 0;
  UINT32 Entry = VolumeHeaderBytes;
  for (;; Entry += BlockMapEntryBytes) {
    if (Entry + BlockMapEntryBytes > HeaderLength) {
      return "its block map has no end";
    }
    const UINT32 Blocks = Read32(Header + Entry);
    const UINT32 BlockLength = Read32(Header + Entry + 4);
    if (Blocks == 0 && BlockLength == 0) {
      break;
    }
    if (BlockLength != 0 && Blocks > (LengthLow - Described) / BlockLength) {
      return "its block map describes more than its length";
    }
    Described += Blocks * BlockLength;
  }
  if (Described != LengthLow) {
    return "its block map does not describe its length";
  }
  UINT32 FirstFile = HeaderLength;
  if (ExtHeaderOffset != 0) {
    if (!Within(ExtHeaderOffset, 20, LengthLow)) {
      return "its extended header lies outside it";
    }
    const UINT32 ExtSize = Read32(Header + ExtHeaderOffset + 16);
    if (!Within(ExtHeaderOffset, ExtSize, LengthLow)) {
      return "its extended header lies outside it";
    }
    FirstFile = ExtHeaderOffset + ExtSize;
  }
  Found = {Address, LengthLow, AlignUp(FirstFile, FileAlignment), (Attributes & ErasePolarityAttribute) != 0};
  return nullptr;
}

FileStep ReadFile(const Volume& In, UINT32 Offset) {
  FileStep Result = {};
  if (!Within(Offset, FileHeaderBytes, In.Length)) {
    Result.Kind = Step::End;
    return Result;
  }
  const UINT8* Header = Bytes(In.Address + Offset);
  const UINT8 Erased = In.ErasePolarity ? 0xFF : 0x00;
  bool AllErased = true;
  for (UINT32 Index = 0; Index < FileHeaderBytes; ++Index) {
    AllErased = AllErased && Header[Index] == Erased;
  }
  if (AllErased) {
    Result.Kind = Step::End;
    return Result;
  }
  Result.Kind = Step::Broken;
  const UINT8 State = In.ErasePolarity ? static_cast<UINT8>(~Header[StateOffset]) : Header[StateOffset];
  if ((State & HeaderValid) == 0) {
    Result.Why = "its header is not complete";
    return Result;
  }
  const bool Large = (Header[19] & LargeFile) != 0;
  const UINT32 HeaderBytes = Large ? LargeFileHeaderBytes : FileHeaderBytes;
  if (!Within(Offset, HeaderBytes, In.Length)) {
    Result.Why = "its header runs past the end of the volume";
    return Result;
  }
  UINT8 Sum = 0;
  for (UINT32 Index = 0; Index < HeaderBytes; ++Index) {
    if (Index != FileChecksumOffset && Index != StateOffset) {
      Sum = static_cast<UINT8>(Sum + Header[Index]);
    }
  }
  if (Sum != 0) {
    Result.Why = "its header checksum is wrong";
    return Result;
  }
  UINT32 Size = Read24(Header + 20);
  if (Large) {
    Size = Read32(Header + 24);
    if (Read32(Header + 28) != 0) {
      Size = 0xFFFFFFFF;
    }
  }
  Result.Found = {In.Address + Offset, reinterpret_cast<const EFI_GUID*>(Header), Header[18],
                  In.Address + Offset + HeaderBytes, 0};
  if (Size < HeaderBytes) {
    Result.Why = "its size is smaller than its header";
    return Result;
  }
  if (!Within(Offset, Size, In.Length)) {
    Result.Why = "its size runs past the end of the volume (a truncated file)";
    return Result;
  }
  Result.Found.DataSize = Size - HeaderBytes;
  Result.Next = AlignUp(Offset + Size, FileAlignment);
  Result.Kind = Step::Skip;
  const UINT8 Current = HighestBit(State);
  if (Current == HeaderInvalid || Current == Deleted) {
    return Result;  // deleted or superseded: passed over without a word
  }
  if ((State & DataValid) == 0) {
    Result.Why = "its data is not marked valid";
    return Result;
  }
  const UINT8* Data = Bytes(Result.Found.Data);
  if ((Header[19] & DataChecksumAttribute) != 0) {
    UINT8 DataSum = Header[FileChecksumOffset];
    for (UINT32 Index = 0; Index < Result.Found.DataSize; ++Index) {
      DataSum = static_cast<UINT8>(DataSum + Data[Index]);
    }
    if (DataSum != 0) {
      Result.Why = "its data checksum is wrong";
      return Result;
    }
  } else if (Header[FileChecksumOffset] != FixedChecksum) {
    Result.Why = "its unused data checksum is not AA";
    return Result;
  }
  Result.Kind = Step::Found;
  return Result;
}

FileSections FindSections(const File& Which) {
  FileSections Result = {};
  UINT32 Offset = 0;
  // Sections start on 4-byte boundaries of the volume, as the file does.
  const UINT32 Skew = Which.Data & (SectionAlignment - 1);
  while (Offset + SectionHeaderBytes <= Which.DataSize) {
    const UINT8* Header = Bytes(Which.Data + Offset);
    UINT32 Size = Read24(Header);
    UINT32 HeaderBytes = SectionHeaderBytes;
    if (Size == ExtendedSize) {
      if (!Within(Offset, ExtendedSectionHeaderBytes, Which.DataSize)) {
        Result.Problem = "a section header runs past the end of the file";
        return Result;
      }
      Size = Read32(Header + 4);
      HeaderBytes = ExtendedSectionHeaderBytes;
    }
    if (Size < HeaderBytes || !Within(Offset, Size, Which.DataSize)) {
      Result.Problem = "a section runs past the end of the file";
      return Result;
    }
    const Span Body = {Which.Data + Offset + HeaderBytes, Size - HeaderBytes};
    Span* Slot = nullptr;
    switch (Header[3]) {
      case SectionPeiDepex:
        Slot = &Result.Depex;
        break;
      case SectionPe32:
        Slot = &Result.Pe32;
        break;
      case SectionTe:
        Slot = &Result.Te;
        break;
      case SectionUserInterface:
        Slot = &Result.Name;
        break;
      default:
        break;
    }
    if (Slot != nullptr && Slot->Address == 0) {
      *Slot = Body;
    }
    Offset = AlignUp(Offset + Size + Skew, SectionAlignment) - Skew;
  }
  return Result;
}

Evaluation EvaluateDepex(const UINT8* Expression, UINT32 Size, bool (*Installed)(const EFI_GUID&, void*),
                         void* Context) {
  bool Stack[DepexStackDepth];
  UINT32 Depth = 0;
  UINT32 Index = 0;
  while (Index < Size) {
    const UINT8 Opcode = Expression[Index++];
    switch (Opcode) {
      case OpPush: {
        if (!Within(Index, sizeof(EFI_GUID), Size)) {
          return {Verdict::Malformed, "PUSH runs past the end of the section"};
        }
        if (Depth == DepexStackDepth) {
          return {Verdict::Malformed, "it nests too deeply"};
        }
        EFI_GUID Guid;
        UINT8* Into = reinterpret_cast<UINT8*>(&Guid);
        for (UINT32 Byte = 0; Byte < sizeof(EFI_GUID); ++Byte) {
          Into[Byte] = Expression[Index + Byte];
        }
        Index += sizeof(EFI_GUID);
        Stack[Depth++] = Installed(Guid, Context);
        break;
      }
      case OpAnd:
      case OpOr:
        if (Depth < 2) {
          return {Verdict::Malformed, Opcode == OpAnd ? "AND lacks an operand" : "OR lacks an operand"};
        }
        --Depth;
        Stack[Depth - 1] = Opcode == OpAnd ? (Stack[Depth - 1] && Stack[Depth]) : (Stack[Depth - 1] || Stack[Depth]);
        break;
      case OpNot:
        if (Depth < 1) {
          return {Verdict::Malformed, "NOT lacks an operand"};
        }
        Stack[Depth - 1] = !Stack[Depth - 1];
        break;
      case OpTrue:
      case OpFalse:
        if (Depth == DepexStackDepth) {
          return {Verdict::Malformed, "it nests too deeply"};
        }
        Stack[Depth++] = Opcode == OpTrue;
        break;
      case OpEnd:
        if (Depth != 1) {
          return {Verdict::Malformed, Depth == 0 ? "END finds no value" : "END leaves more than one value"};
        }
        return {Stack[0] ? Verdict::True : Verdict::False, nullptr};
      case OpBefore:
      case OpAfter:
      case OpSor:
        return {Verdict::Malformed, "BEFORE, AFTER and SOR have no place in a PEI expression"};
      default:
        return {Verdict::Malformed, "an unknown opcode"};
    }
  }
  return {Verdict::Malformed, "it has no END"};
}
}  // namespace Ffs

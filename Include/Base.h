// Base types, status codes, GUID and time records shared by every unit.
#pragma once

#include <stddef.h>
#include <stdint.h>

using UINT8 = uint8_t;
using UINT16 = uint16_t;
using UINT32 = uint32_t;
using UINT64 = uint64_t;
using INT8 = int8_t;
using INT16 = int16_t;
using INT32 = int32_t;
using INT64 = int64_t;
using UINTN = uint32_t;
using INTN = int32_t;
using CHAR8 = char;
using CHAR16 = uint16_t;
using BOOLEAN = bool;
using VOID = void;

static_assert(sizeof(void*) == 4, "the module is built for a 32-bit processor only");
static_assert(sizeof(UINTN) == sizeof(void*));

// PEI services and module entry points use the IA32 C calling convention.
#define EFIAPI __attribute__((cdecl))

using EFI_STATUS = UINTN;

inline constexpr UINTN MAX_BIT = 0x80000000u;

constexpr EFI_STATUS EncodeError(UINTN Number) { return MAX_BIT | Number; }
constexpr EFI_STATUS EncodeWarning(UINTN Number) { return Number; }

constexpr bool EFI_ERROR(EFI_STATUS Status) { return (Status & MAX_BIT) != 0; }

inline constexpr EFI_STATUS EFI_SUCCESS = 0;
inline constexpr EFI_STATUS EFI_LOAD_ERROR = EncodeError(1);
inline constexpr EFI_STATUS EFI_INVALID_PARAMETER = EncodeError(2);
inline constexpr EFI_STATUS EFI_UNSUPPORTED = EncodeError(3);
inline constexpr EFI_STATUS EFI_BAD_BUFFER_SIZE = EncodeError(4);
inline constexpr EFI_STATUS EFI_BUFFER_TOO_SMALL = EncodeError(5);
inline constexpr EFI_STATUS EFI_NOT_READY = EncodeError(6);
inline constexpr EFI_STATUS EFI_DEVICE_ERROR = EncodeError(7);
inline constexpr EFI_STATUS EFI_WRITE_PROTECTED = EncodeError(8);
inline constexpr EFI_STATUS EFI_OUT_OF_RESOURCES = EncodeError(9);
inline constexpr EFI_STATUS EFI_VOLUME_CORRUPTED = EncodeError(10);
inline constexpr EFI_STATUS EFI_VOLUME_FULL = EncodeError(11);
inline constexpr EFI_STATUS EFI_NO_MEDIA = EncodeError(12);
inline constexpr EFI_STATUS EFI_MEDIA_CHANGED = EncodeError(13);
inline constexpr EFI_STATUS EFI_NOT_FOUND = EncodeError(14);
inline constexpr EFI_STATUS EFI_ACCESS_DENIED = EncodeError(15);
inline constexpr EFI_STATUS EFI_NO_RESPONSE = EncodeError(16);
inline constexpr EFI_STATUS EFI_NO_MAPPING = EncodeError(17);
inline constexpr EFI_STATUS EFI_TIMEOUT = EncodeError(18);
inline constexpr EFI_STATUS EFI_NOT_STARTED = EncodeError(19);
inline constexpr EFI_STATUS EFI_ALREADY_STARTED = EncodeError(20);
inline constexpr EFI_STATUS EFI_ABORTED = EncodeError(21);
inline constexpr EFI_STATUS EFI_ICMP_ERROR = EncodeError(22);
inline constexpr EFI_STATUS EFI_TFTP_ERROR = EncodeError(23);
inline constexpr EFI_STATUS EFI_PROTOCOL_ERROR = EncodeError(24);
inline constexpr EFI_STATUS EFI_INCOMPATIBLE_VERSION = EncodeError(25);
inline constexpr EFI_STATUS EFI_SECURITY_VIOLATION = EncodeError(26);
inline constexpr EFI_STATUS EFI_CRC_ERROR = EncodeError(27);
inline constexpr EFI_STATUS EFI_END_OF_MEDIA = EncodeError(28);
inline constexpr EFI_STATUS EFI_END_OF_FILE = EncodeError(31);
inline constexpr EFI_STATUS EFI_INVALID_LANGUAGE = EncodeError(32);
inline constexpr EFI_STATUS EFI_COMPROMISED_DATA = EncodeError(33);

inline constexpr EFI_STATUS EFI_WARN_UNKNOWN_GLYPH = EncodeWarning(1);
inline constexpr EFI_STATUS EFI_WARN_DELETE_FAILURE = EncodeWarning(2);
inline constexpr EFI_STATUS EFI_WARN_WRITE_FAILURE = EncodeWarning(3);
inline constexpr EFI_STATUS EFI_WARN_BUFFER_TOO_SMALL = EncodeWarning(4);
inline constexpr EFI_STATUS EFI_WARN_STALE_DATA = EncodeWarning(5);

struct EFI_GUID {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
};
static_assert(sizeof(EFI_GUID) == 16);
static_assert(offsetof(EFI_GUID, Data2) == 4 && offsetof(EFI_GUID, Data3) == 6 && offsetof(EFI_GUID, Data4) == 8);

constexpr bool SameGuid(const EFI_GUID& A, const EFI_GUID& B) {
  if (A.Data1 != B.Data1 || A.Data2 != B.Data2 || A.Data3 != B.Data3) {
    return false;
  }
  for (UINTN Index = 0; Index < 8; ++Index) {
    if (A.Data4[Index] != B.Data4[Index]) {
      return false;
    }
  }
  return true;
}

struct EFI_TIME {
  UINT16 Year;
  UINT8 Month;
  UINT8 Day;
  UINT8 Hour;
  UINT8 Minute;
  UINT8 Second;
  UINT8 Pad1;
  UINT32 Nanosecond;
  INT16 TimeZone;
  UINT8 Daylight;
  UINT8 Pad2;
};
static_assert(sizeof(EFI_TIME) == 16);
static_assert(offsetof(EFI_TIME, Month) == 2 && offsetof(EFI_TIME, Day) == 3);
static_assert(offsetof(EFI_TIME, Hour) == 4 && offsetof(EFI_TIME, Minute) == 5);

// The whole module on the standard board: a machine, a PEI Foundation and the
// boot, with the transcripts a test compares.
#pragma once

#include <string>

#include "Library/PeimEntryPoint.h"
#include "Board.h"
#include "NativeServices.h"
#include "Ppi/VersionString.h"

struct ModuleBoard {
  Sim::Board Board;
  Pei::NativeServices Foundation;

  EFI_STATUS Boot() {
    const EFI_STATUS Status = ModuleEntry(nullptr, Foundation.Services());
    Board.Settle();
    return Status;
  }

  const VersionStringPpi* Record() const {
    VersionStringPpi* Found = nullptr;
    if (Foundation.LocatePpi(VersionStringPpiGuid, 0, nullptr, reinterpret_cast<VOID**>(&Found)) != EFI_SUCCESS) {
      return nullptr;
    }
    return Found;
  }

  // What both lines carried; the test fails when they differ.
  std::string Transcript() {
    const std::string Com1 = Board.Com1().Transmitted();
    if (Com1 != Board.Com2().Transmitted()) {
      return "COM1 and COM2 differ: [" + Com1 + "] [" + Board.Com2().Transmitted() + "]";
    }
    return Com1;
  }
};

inline const std::string AllocationReport97 =
    "\r\nASSERT_EFI_ERROR (Status = Out of Resources)\r\n"
    "ASSERT QelVersionPei/QelVersionPei.cpp(97): !EFI_ERROR (Status)\r\n";

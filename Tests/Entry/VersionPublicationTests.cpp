// The module through its entry point: the published record and its failures.
#include <gtest/gtest.h>

#include <cstring>

#include "Processor.h"
#include "Library/PeimEntryPoint.h"
#include "NativeServices.h"
#include "Ppi/VersionString.h"
#include "QelVersionPei.h"
#include "RecordingDebugLib.h"

namespace {
const char* const ModulePath = "QelVersionPei/QelVersionPei.cpp";

class VersionPublication : public ::testing::Test {
protected:
  void SetUp() override { Recorded::Clear(); }

  EFI_STATUS Boot() { return ModuleEntry(nullptr, Foundation.Services()); }

  Sim::Processor Processor;
  Pei::NativeServices Foundation;
};
}  // namespace

TEST_F(VersionPublication, Success_InstallsOneRecordUnderTheGuid) {
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  ASSERT_EQ(Foundation.InstalledCount(), 1u);
  VersionStringPpi* Record = nullptr;
  EFI_PEI_PPI_DESCRIPTOR* Descriptor = nullptr;
  ASSERT_EQ(Foundation.LocatePpi(VersionStringPpiGuid, 0, &Descriptor, reinterpret_cast<VOID**>(&Record)),
            EFI_SUCCESS);
  EXPECT_STREQ(Record->Signature, "TORVA!V9");
  EXPECT_STREQ(Record->VersionString, "OlvendPI-QX4 1.0.0.P");
  EXPECT_EQ(Record->VersionString - Record->Signature, 9);
  EXPECT_EQ(Descriptor->Flags, 0x80000010u);
  const UINT8 GuidBytes[16] = {0xbe, 0x2c, 0x63, 0x17, 0x80, 0x6c, 0xb6, 0x49,
                               0x82, 0x07, 0x12, 0xb5, 0x3d, 0x9b, 0x25, 0x70};
  EXPECT_EQ(std::memcmp(Descriptor->Guid, GuidBytes, 16), 0);
  EXPECT_TRUE(Recorded::Assertions().empty());
  EXPECT_EQ(Foundation.UnexpectedCalls(), 0u);
}

TEST_F(VersionPublication, RecordAndDescriptor_AreTheTwoPoolBlocks) {
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  ASSERT_EQ(Foundation.BlockCount(), 2u);
  EXPECT_EQ(Foundation.BlockAt(0).Size, 8u);
  EXPECT_EQ(Foundation.BlockAt(1).Size, 12u);
  const auto* Descriptor = reinterpret_cast<EFI_PEI_PPI_DESCRIPTOR*>(Foundation.BlockAt(1).At);
  EXPECT_EQ(Descriptor, Foundation.Installed(0));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(Descriptor->Ppi), Foundation.BlockAt(0).At);
  // The texts stay in the image: neither pointer reaches into the pool.
  const auto* Record = static_cast<const VersionStringPpi*>(Descriptor->Ppi);
  EXPECT_FALSE(Foundation.InPool(Record->Signature, 1));
  EXPECT_FALSE(Foundation.InPool(Record->VersionString, 1));
  EXPECT_FALSE(Foundation.InPool(Descriptor->Guid, 16));
}

TEST_F(VersionPublication, InstallFailure_IsReturnedUnchangedAndNotReported) {
  Foundation.FailInstallPpi(EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Boot(), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Foundation.InstalledCount(), 0u);
  EXPECT_TRUE(Recorded::Assertions().empty());
  EXPECT_TRUE(Recorded::Messages().empty());
}

TEST_F(VersionPublication, FailedAllocation_IsReportedWithItsLineAndReturned) {
  struct Case {
    unsigned Nth;
    EFI_STATUS Status;
    uint32_t Line;
  };
  for (const Case& C : {Case{1, EFI_OUT_OF_RESOURCES, 97}, Case{2, EFI_NOT_FOUND, 109}}) {
    Sim::Processor::Current().ClearTrace();
    Recorded::Clear();
    Pei::NativeServices Fresh;
    Fresh.FailAllocation(C.Nth, C.Status);
    EXPECT_EQ(PublishVersionString(nullptr, Fresh.Services()), C.Status);
    EXPECT_EQ(Fresh.InstalledCount(), 0u);
    EXPECT_EQ(Fresh.AllocationCalls(), C.Nth) << "nothing is allocated after the failure";
    ASSERT_EQ(Recorded::Messages().size(), 1u);
    EXPECT_EQ(Recorded::Messages()[0].Level, 0x80000000u);
    EXPECT_EQ(Recorded::Messages()[0].Format, "\nASSERT_EFI_ERROR (Status = %r)\n");
    EXPECT_EQ(Recorded::Messages()[0].FirstArgument, C.Status);
    ASSERT_EQ(Recorded::Assertions().size(), 1u);
    EXPECT_EQ(Recorded::Assertions()[0], (Recorded::Assertion{ModulePath, C.Line, "!EFI_ERROR (Status)"}));
  }
}

// Mended: a block that does not come back is a failed allocation whatever the
// status says. A status that claims success cannot go through the status
// check, so the routine answers Out of Resources without writing anything.
TEST_F(VersionPublication, NonErrorStatusWithoutBlock_ReturnsOutOfResourcesUnreported) {
  for (const unsigned Nth : {1u, 2u}) {
    for (const EFI_STATUS Status : {EFI_SUCCESS, EFI_WARN_BUFFER_TOO_SMALL}) {
      Recorded::Clear();
      Pei::NativeServices Fresh;
      Fresh.FailAllocation(Nth, Status);
      EXPECT_EQ(PublishVersionString(nullptr, Fresh.Services()), EFI_OUT_OF_RESOURCES)
          << "allocation " << Nth << " answered " << Status;
      EXPECT_EQ(Fresh.AllocationCalls(), Nth) << "nothing is allocated after the failure";
      EXPECT_EQ(Fresh.BlockCount(), Nth - 1);
      EXPECT_EQ(Fresh.InstalledCount(), 0u);
      EXPECT_TRUE(Recorded::Assertions().empty());
      EXPECT_TRUE(Recorded::Messages().empty());
    }
  }
}

TEST_F(VersionPublication, DefaultRevisionSetting_NeverReadsTheTable) {
  Foundation.Table().Hdr.Revision = 0;
  EXPECT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_TRUE(Recorded::Assertions().empty());
}

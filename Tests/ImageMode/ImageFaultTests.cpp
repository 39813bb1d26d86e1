// Image mode must not let a faulty image pass: broken modules are stopped
// with a report in the image's terms, and a difference between the two runs
// is named by its first access.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "BoardRun.h"
#include "Board.h"
#include "ImageMachine.h"

namespace {
using ImageMode::ImageFault;
using ImageMode::ImageMachine;
namespace Guest = ImageMode::Guest;

// The QEMU stand-in's deliberately broken modules, built and linked as the module is.
std::string BrokenModule(const char* Name) { return std::string(QEL_FIRMWARE_DIR) + "/Harness/Qemu/" + Name + ".efi"; }

// Runs ModuleEntry and returns the fault's text, or why there was none.
std::string FaultOf(const std::string& Path) {
  if (!std::ifstream(Path)) {
    return "skip";
  }
  Sim::Board Board;
  ImageMachine Machine(Board.Processor(), ImageMode::ReadImageFile(Path));
  Machine.UseMap(ImageMode::ImageMap::Read(Path.substr(0, Path.rfind('.')) + ".map"));
  try {
    Machine.RunModuleEntry();
  } catch (const ImageFault& Fault) {
    return Fault.what();
  }
  return "no fault";
}

TEST(ImageFault, WriteToConstantData_IsStoppedAtTheStore) {
  const std::string Fault = FaultOf(BrokenModule("WritesConstant"));
  if (Fault == "skip") {
    GTEST_SKIP() << "no broken modules: build the firmware preset first";
  }
  EXPECT_NE(Fault.find("write of 4 bytes (0x0C0FFEE1) to the read-only image at 0x008"), std::string::npos) << Fault;
  EXPECT_NE(Fault.find(", .text, ModuleEntry+0x"), std::string::npos) << "the map names the routine: " << Fault;
}

TEST(ImageFault, StackOverflow_IsAWriteBelowTheStack) {
  const std::string Fault = FaultOf(BrokenModule("OverflowsStack"));
  if (Fault == "skip") {
    GTEST_SKIP() << "no broken modules: build the firmware preset first";
  }
  EXPECT_NE(Fault.find("to unmapped memory at 0x000FFF"), std::string::npos) << Fault;
  EXPECT_NE(Fault.find("(below the stack: an overflow)"), std::string::npos) << Fault;
}

class ImageMachineTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::ifstream(QEL_GOOD_IMAGE)) {
      GTEST_SKIP() << "no image " << QEL_GOOD_IMAGE << ": build the firmware preset first";
    }
    Machine = std::make_unique<ImageMachine>(Board.Processor(), ImageMode::ReadImageFile(QEL_GOOD_IMAGE));
  }
  std::string FaultOfCall(uint32_t Address, const std::vector<uint32_t>& Arguments) {
    try {
      Machine->Call(Address, Arguments);
    } catch (const ImageFault& Fault) {
      return Fault.what();
    }
    return "no fault";
  }
  Sim::Board Board;
  std::unique_ptr<ImageMachine> Machine;
};

TEST_F(ImageMachineTest, ServiceTheModuleHasNoBusinessWith_StopsTheRun) {
  // ReportStatusCode's stub, called as the module would through the table.
  const uint32_t ReportStatusCode = Guest::TrapsAt + 16 * 16;
  EXPECT_NE(FaultOfCall(ReportStatusCode, {Guest::ServicesAt}).find("unexpected PEI service call: ReportStatusCode"),
            std::string::npos);
  EXPECT_EQ(Machine->Foundation().UnexpectedCalls(), 1u);
}

TEST_F(ImageMachineTest, WriteToThePoolOutsideItsBlocks_StopsTheRun) {
  Machine->UseMap(ImageMode::ImageMap::Read(std::string(QEL_GOOD_IMAGE).substr(0, std::string(QEL_GOOD_IMAGE).rfind('.')) +
                                           ".map"));
  const uint32_t Format = Machine->Put(std::string("abc"));
  // A buffer that the pool never handed out.
  const std::string Fault = FaultOfCall(Machine->Routine("AsciiFormat"), {Guest::PoolAt + 0x100, 16, Format});
  EXPECT_NE(Fault.find("to the pool at 0x00400100, outside the blocks it handed out (none) by the instruction at 0x008"),
            std::string::npos)
      << Fault;
}

TEST_F(ImageMachineTest, FetchOutsideTheImage_IsNamedWithItsRegion) {
  EXPECT_EQ(FaultOfCall(Guest::PoolAt, {}), "fetch outside the image at 0x00400000 (pool) (memory that is not code)");
  EXPECT_EQ(FaultOfCall(0x00050000, {}), "fetch outside the image at 0x00050000 (unmapped memory)");
}

// A model that fails on a read and stalls on a write, in front of whatever
// else answers at its ports.
class FailingModel : public Sim::PortDevice, public Sim::MemoryDevice {
public:
  explicit FailingModel(Sim::Processor& OnBus) : Bus(OnBus) { Bus.MapPorts(0x120, 0x121, *this); }
  ~FailingModel() override {
    Bus.UnmapPorts(*this);
    Bus.UnmapMemory(*this);
  }
  uint32_t PortRead(uint16_t, unsigned) override { throw std::logic_error("no register at 0x120"); }
  void PortWrite(uint16_t, unsigned, uint32_t) override { throw Sim::BoardStall("board watchdog: the model hangs"); }
  uint8_t MemoryRead(uint32_t) override { return 0xFF; }
  void MemoryWrite(uint32_t, uint8_t) override {}

private:
  Sim::Processor& Bus;
};

TEST_F(ImageMachineTest, BoardModelFailureAndStall_EndTheRunWithTheirReports) {
  Machine->UseMap(ImageMode::ImageMap::Read(std::string(QEL_GOOD_IMAGE).substr(0, std::string(QEL_GOOD_IMAGE).rfind('.')) +
                                           ".map"));
  FailingModel Model(Board.Processor());
  EXPECT_EQ(FaultOfCall(Machine->Routine("PortIn8"), {0x120}), "the board model failed: no register at 0x120");
  try {
    Machine->Call(Machine->Routine("PortOut8"), {0x121, 0x5A});
    ADD_FAILURE() << "a stalled board let the call return";
  } catch (const Sim::BoardStall& Stall) {
    EXPECT_STREQ(Stall.what(), "board watchdog: the model hangs");
  }
  // The machine is usable again afterwards.
  EXPECT_EQ(Machine->Call(Machine->Routine("PortIn8"), {0x80}) & 0xFF, 0xFFu);
}

// The guest regions, as the fault reports name them; the gaps and the null
// page go by their address.
TEST_F(ImageMachineTest, GuestAddresses_AreNamedByTheirRegion) {
  EXPECT_EQ(Machine->Where(Guest::StackFirst), "0x00100000 (stack)");
  EXPECT_EQ(Machine->Where(Guest::StackTop - 1), "0x0010FFFF (stack)");
  EXPECT_EQ(Machine->Where(Guest::StackFirst - 1), "0x000FFFFF (below the stack: an overflow)");
  EXPECT_EQ(Machine->Where(Guest::ServicesAt + 4), "0x00200004 (services table)");
  EXPECT_EQ(Machine->Where(Guest::TrapsAt), "0x00201000 (services trap page)");
  EXPECT_EQ(Machine->Where(Guest::ScratchAt + Guest::ScratchBytes - 1), "0x0030FFFF (argument scratch)");
  EXPECT_EQ(Machine->Where(Guest::PoolAt + Guest::PoolBytes), "0x00404000");
  EXPECT_EQ(Machine->Where(0x10), "0x00000010");
  EXPECT_EQ(Machine->Where(Guest::StackTop), "0x00110000");
}

// A device window must not hide guest memory, nor the guard below the stack
// that makes an overflow fault.
TEST_F(ImageMachineTest, DeviceWindowOverGuestMemory_IsRefused) {
  FailingModel Model(Board.Processor());
  Board.Processor().MapMemory(Guest::StackFirst - 0x100, Guest::StackFirst - 1, Model);
  try {
    Machine->MapDeviceWindows();
    ADD_FAILURE() << "a device window over the stack's guard was mapped";
  } catch (const ImageFault& Refused) {
    EXPECT_STREQ(Refused.what(), "the board's device window 0x000FFF00..0x000FFFFF overlaps 0x000FF000 (below the "
                                 "stack: an overflow)");
  }
}

TEST_F(ImageMachineTest, EntryPointCalledTwice_ReportsTwice) {
  Board.SetLevelMask(0x80000000);
  for (unsigned Boot = 1; Boot <= 2; ++Boot) {
    Machine->StartFoundation(Pei::Foundation::DefaultRevision, Pei::FailureSwitches::Allocation(1));
    EXPECT_EQ(Machine->RunModuleEntry(), EFI_OUT_OF_RESOURCES);
    EXPECT_GT(Machine->Instructions(), 1000u);
    EXPECT_GT(Machine->DeepestStack(), 256u);
    EXPECT_EQ(Board.Processor().Breakpoints(), Boot);
  }
  Board.Settle();
  const std::string Report = "ASSERT QelVersionPei/QelVersionPei.cpp(97): !EFI_ERROR (Status)\r\n";
  const std::string Sent = Board.Com1().Transmitted();
  ASSERT_NE(Sent.find(Report), std::string::npos) << Sent;
  EXPECT_NE(Sent.find(Report, Sent.find(Report) + Report.size()), std::string::npos) << Sent;
}

// An image that a flash-layout step rebased runs in place: no fix-up moves it,
// and it does what the relocated image does.
std::vector<Sim::BusEvent> FailedAllocationTrace(const std::vector<uint8_t>& File, uint32_t ExpectedAddress) {
  Sim::Board Board;
  Board.SetLevelMask(0x80000000);
  ImageMachine Machine(Board.Processor(), File);
  EXPECT_EQ(Machine.Image().Address, ExpectedAddress);
  Machine.StartFoundation(Pei::Foundation::DefaultRevision, Pei::FailureSwitches::Allocation(2));
  EXPECT_EQ(Machine.RunModuleEntry(), EFI_OUT_OF_RESOURCES);
  return Board.Processor().Trace();
}

TEST(ImageMachine, RebasedImage_RunsInPlaceAndBootsTheSame) {
  if (!std::ifstream(QEL_GOOD_IMAGE)) {
    GTEST_SKIP() << "no image " << QEL_GOOD_IMAGE << ": build the firmware preset first";
  }
  const std::vector<uint8_t> Linked = ImageMode::ReadImageFile(QEL_GOOD_IMAGE);
  // What a flash-layout step makes: the fix-ups applied for the flash
  // address, and the headers' base saying so.
  constexpr uint32_t FlashAt = 0x00A00000;
  std::vector<uint8_t> Rebased(1u << 20);
  LoadedImage Layout{};
  ASSERT_EQ(PlaceImage(Linked.data(), static_cast<UINT32>(Linked.size()), FlashAt, Rebased.data(),
                       static_cast<UINT32>(Rebased.size()), Layout),
            nullptr);
  Rebased.resize(Layout.Size);
  uint32_t PeHeader = 0;
  std::memcpy(&PeHeader, Rebased.data() + 0x3C, 4);
  std::memcpy(Rebased.data() + PeHeader + 24 + 28, &FlashAt, 4);  // ImageBase

  const std::vector<Sim::BusEvent> Relocated = FailedAllocationTrace(Linked, Guest::ImageAt);
  EXPECT_GT(Relocated.size(), 100u);
  EXPECT_EQ(FailedAllocationTrace(Rebased, FlashAt), Relocated);
}

TEST(ImageMachine, RebasedBelowTheBoardsImageRoom_IsRefused) {
  if (!std::ifstream(QEL_GOOD_IMAGE)) {
    GTEST_SKIP() << "no image " << QEL_GOOD_IMAGE << ": build the firmware preset first";
  }
  std::vector<uint8_t> File = ImageMode::ReadImageFile(QEL_GOOD_IMAGE);
  uint32_t PeHeader = 0;
  std::memcpy(&PeHeader, File.data() + 0x3C, 4);
  const uint32_t StackPage = Guest::StackFirst;
  std::memcpy(File.data() + PeHeader + 24 + 28, &StackPage, 4);
  Sim::Board Board;
  try {
    ImageMachine Machine(Board.Processor(), File);
    ADD_FAILURE() << "an image rebased onto the stack was taken";
  } catch (const ImageMode::BadImage& Refused) {
    EXPECT_STREQ(Refused.what(),
                 "the image is rebased to 0x00100000; this board runs images in place from 0x00800000 up, on a page "
                 "boundary");
  }
}

// The interrupt bracket of the PCI build, called in its image: pushfd reads
// the board's flag, cli and sti change it and land in the trace.
TEST(ImageMachine, InterruptBracket_ActsOnTheBoardsFlag) {
  const std::string Path = std::string(QEL_FIRMWARE_DIR) + "/QelVersionPei-PciMmioTwoBridges.efi";
  if (!std::ifstream(Path)) {
    GTEST_SKIP() << "no image " << Path << ": build the firmware preset first";
  }
  Sim::Board Board;
  ImageMachine Machine(Board.Processor(), ImageMode::ReadImageFile(Path));
  Machine.UseMap(ImageMode::ImageMap::Read(Path.substr(0, Path.rfind('.')) + ".map"));
  for (const bool Enabled : {true, false}) {
    Board.Processor().InterruptFlag = Enabled;
    Board.Processor().ClearTrace();
    EXPECT_EQ(Machine.Call(Machine.Routine("MaskInterruptsSaving"), {}) & 0xFF, Enabled ? 1u : 0u);
    EXPECT_FALSE(Board.Processor().InterruptFlag);
    EXPECT_EQ(Machine.Call(Machine.Routine("RestoreInterruptFlag"), {Enabled}) & 0xFF, Enabled ? 1u : 0u);
    EXPECT_EQ(Board.Processor().InterruptFlag, Enabled);
    const Sim::BusEvent Cli{Sim::BusEvent::Kind::InterruptsOff, 0, 0, 0};
    const Sim::BusEvent Sti{Sim::BusEvent::Kind::InterruptsOn, 0, 0, 0};
    EXPECT_EQ(Board.Processor().Trace(), (std::vector<Sim::BusEvent>{Cli, Enabled ? Sti : Cli}));
  }
}

TEST(FirstDifference, NamesTheFirstDivergingAccess) {
  Agreement::Record Host;
  Host.Outcome = "status 0x00000000";
  Host.Trace = {{Sim::BusEvent::Kind::PortOut, 1, 0x70, 0x7A},
                {Sim::BusEvent::Kind::PortIn, 1, 0x71, 0x80},
                {Sim::BusEvent::Kind::PortIn, 2, 0x3FD, 0x60}};
  Agreement::Record Image = Host;
  EXPECT_EQ(Agreement::FirstDifference(Host, Image), "");
  Image.Trace[2] = {Sim::BusEvent::Kind::PortIn, 1, 0x3FD, 0x60};  // a narrower access
  EXPECT_EQ(Agreement::FirstDifference(Host, Image),
            "the access traces part at access #2: host 'in    16 0x03FD 0x0060', image 'in    8 0x03FD 0x60', after "
            "'in    8 0x0071 0x80' (3 accesses on the host, 3 in the image); outcome: host status 0x00000000, image "
            "status 0x00000000");
  Image = Host;
  Image.Com2 = "x";
  EXPECT_EQ(Agreement::FirstDifference(Host, Image), "COM2 bytes: host \"\", image \"x\"");
  Image = Host;
  Image.Outcome = "fault: write of 4 bytes";
  EXPECT_EQ(Agreement::FirstDifference(Host, Image), "outcome: host status 0x00000000, image fault: write of 4 bytes");
}
}  // namespace

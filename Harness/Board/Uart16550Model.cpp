// The 16550 UART model: registers, FIFOs, line and modem status, interrupt
// identification and the timed transmitter.
#include "Uart16550Model.h"

#include <limits>

#include "SerialFrame.h"

namespace Sim {
namespace {
// Register indices.
constexpr unsigned DataRegister = 0;       // RBR / THR, DLL with DLAB
constexpr unsigned InterruptEnableRegister = 1;    // IER, DLM with DLAB
constexpr unsigned InterruptIdentityRegister = 2;  // IIR on read, FCR on write
constexpr unsigned LineControlRegister = 3;
constexpr unsigned ModemControlRegister = 4;
constexpr unsigned LineStatusRegister = 5;
constexpr unsigned ModemStatusRegister = 6;
constexpr unsigned ScratchRegister = 7;
constexpr unsigned RegisterCount = 8;

// LCR
constexpr uint8_t DivisorLatchAccess = 0x80;
constexpr uint8_t FrameFormatMask = 0x3F;  // what shapes a frame; bit 6 is break
// LSR
constexpr uint8_t DataReady = 0x01;
constexpr uint8_t OverrunErrorBit = 0x02;
constexpr uint8_t HoldingEmpty = 0x20;
constexpr uint8_t TransmitterEmpty = 0x40;
// IER
constexpr uint8_t ReceiveDataInterrupt = 0x01;
constexpr uint8_t HoldingEmptyInterrupt = 0x02;
constexpr uint8_t LineStatusInterrupt = 0x04;
constexpr uint8_t ModemStatusInterrupt = 0x08;
// IIR
constexpr uint8_t NoInterruptPending = 0x01;
constexpr uint8_t LineStatusSource = 0x06;
constexpr uint8_t ReceiveDataSource = 0x04;
constexpr uint8_t HoldingEmptySource = 0x02;
constexpr uint8_t ModemStatusSource = 0x00;
constexpr uint8_t FifosEnabledBits = 0xC0;
constexpr uint8_t LargeFifoEnabledBit = 0x20;
// FCR
constexpr uint8_t FifoEnable = 0x01;
constexpr uint8_t ClearReceiveFifo = 0x02;
constexpr uint8_t ClearTransmitFifo = 0x04;
constexpr uint8_t LargeFifoEnable = 0x20;
// MCR
constexpr uint8_t DataTerminalReady = 0x01;
constexpr uint8_t RequestToSend = 0x02;
constexpr uint8_t ModemControlMask = 0x1F;
constexpr uint8_t Loopback = 0x10;
// MSR
constexpr uint8_t ClearToSend = 0x10;
constexpr uint8_t DataSetReady = 0x20;
constexpr uint8_t RingIndicator = 0x40;
constexpr uint8_t CarrierDetect = 0x80;
constexpr uint8_t TrailingEdgeRing = 0x04;

constexpr size_t StandardFifoDepth = 16;
constexpr size_t LargeFifoDepth = 64;
}  // namespace

Uart16550Model::Uart16550Model(Processor& Bus, Placement Where) : Bus(Bus), Location(Where) {
  if (Location.Stride == 0) {
    Location.Stride = 1;
  }
  const uint32_t Last = Location.Base + RegisterCount * Location.Stride - 1;
  if (Location.InMemory) {
    Bus.MapMemory(Location.Base, Last, *this);
  } else {
    Bus.MapPorts(static_cast<uint16_t>(Location.Base), static_cast<uint16_t>(Last), *this);
  }
  ModemHistory.push_back({Bus.Now(), false, false, (Lines & ClearToSend) != 0, (Lines & DataSetReady) != 0});
}

Uart16550Model::~Uart16550Model() {
  if (Location.InMemory) {
    Bus.UnmapMemory(*this);
  } else {
    Bus.UnmapPorts(*this);
  }
}

uint64_t Uart16550Model::FrameNanoseconds(uint16_t Divisor, uint8_t LineControl) {
  return SerialFrame::Nanoseconds(Divisor, SerialFrame::HalfBits(LineControl));
}

void Uart16550Model::SetModemLines(bool Cts, bool Dsr, bool Ri, bool Dcd) {
  FollowPeer();
  const uint8_t New = (Cts ? ClearToSend : 0) | (Dsr ? DataSetReady : 0) | (Ri ? RingIndicator : 0) |
                      (Dcd ? CarrierDetect : 0);
  ChangeModemInputs(New, Bus.Now());
}

void Uart16550Model::ChangeModemInputs(uint8_t New, uint64_t At) {
  const uint8_t Changed = New ^ Lines;
  // Delta bits 0, 1 and 3 follow CTS, DSR and DCD; bit 2 only a ring that ends.
  ModemDeltas |= static_cast<uint8_t>((Changed & (ClearToSend | DataSetReady | CarrierDetect)) >> 4);
  if ((Lines & RingIndicator) != 0 && (New & RingIndicator) == 0) {
    ModemDeltas |= TrailingEdgeRing;
  }
  Lines = New;
  NoteModemLines(At);
}

// In loopback the chip holds RTS# and DTR# inactive and feeds MCR back inside.
void Uart16550Model::NoteModemLines(uint64_t At) {
  const bool Driven = (McrValue & Loopback) == 0;
  const ModemLines Levels{At, Driven && (McrValue & RequestToSend) != 0,
                          Driven && (McrValue & DataTerminalReady) != 0, (Lines & ClearToSend) != 0,
                          (Lines & DataSetReady) != 0};
  if (ModemHistory.back().SameLevels(Levels)) {
    return;
  }
  // Two changes at one moment leave only the second on the wire.
  if (ModemHistory.back().At == At) {
    ModemHistory.back() = Levels;
    return;
  }
  ModemHistory.push_back(Levels);
}

// The peer's pause begins when its last wanted byte has fully arrived, and
// the lines change at those exact moments, however late the UART is touched.
void Uart16550Model::FollowPeer() {
  if (!Pause || !PauseFrom || PauseStage == PeerStage::Over || Bus.Now() < *PauseFrom) {
    return;
  }
  if (PauseStage == PeerStage::Waiting) {
    ChangeModemInputs(static_cast<uint8_t>(Lines & ~ClearToSend), *PauseFrom);
    PauseStage = PeerStage::Paused;
  }
  const uint64_t Until = *PauseFrom + Pause->Nanoseconds;
  if (Bus.Now() >= Until) {
    ChangeModemInputs(static_cast<uint8_t>(Lines | ClearToSend), Until);
    PauseStage = PeerStage::Over;
    Bus.NoteProgress();  // the peer moved on by itself
  }
}

void Uart16550Model::Preset(uint16_t Divisor, uint8_t LineControlValue, uint8_t FifoControl, uint8_t ModemControlValue) {
  Dll = static_cast<uint8_t>(Divisor);
  Dlm = static_cast<uint8_t>(Divisor >> 8);
  LcrValue = LineControlValue;
  McrValue = ModemControlValue & ModemControlMask;
  NoteModemLines(Bus.Now());
  WriteFifoControl(FifoControl);
}

void Uart16550Model::Receive(std::string_view Bytes) {
  for (const char Byte : Bytes) {
    if (RxQueue.size() >= ReceiveCapacity()) {
      OverrunError = true;
      continue;
    }
    RxQueue.push_back(static_cast<uint8_t>(Byte));
  }
}

std::string Uart16550Model::Transmitted() const {
  std::string Text;
  for (const UartFrame& Frame : Frames) {
    Text.push_back(static_cast<char>(Frame.Value));
  }
  for (const uint8_t Byte : TxQueue) {
    Text.push_back(static_cast<char>(Byte));
  }
  return Text;
}

uint64_t Uart16550Model::LineBusyNanoseconds() const {
  uint64_t Total = 0;
  for (const UartFrame& Frame : Frames) {
    Total += Frame.End - Frame.Start;
  }
  return Total;
}

void Uart16550Model::StartFrame(uint8_t Value, uint64_t At) {
  const uint16_t CurrentDivisor = Divisor();
  ShiftEnd = At + FrameNanoseconds(CurrentDivisor, LcrValue);
  Shifting = true;
  // In loopback the frame goes to the receiver and the line stays marking.
  if ((McrValue & Loopback) != 0) {
    Receive(std::string_view(reinterpret_cast<const char*>(&Value), 1));
    return;
  }
  Frames.push_back({Value, CurrentDivisor, LcrValue, At, ShiftEnd, false});
  ++FramesOnLine;
  if (Pause && FramesOnLine == Pause->AfterBytes) {
    PauseFrom = ShiftEnd;
  }
}

void Uart16550Model::CatchUp() {
  if (StuckTransmitter) {
    return;
  }
  const uint64_t Now = Bus.Now();
  FollowPeer();
  while (Shifting && ShiftEnd <= Now) {
    Shifting = false;
    Bus.NoteProgress();
    if (!TxQueue.empty()) {
      const uint8_t Next = TxQueue.front();
      TxQueue.pop_front();
      StartFrame(Next, ShiftEnd);
      if (TxQueue.empty()) {
        ThreInterrupt = true;
      }
    }
  }
  FollowPeer();
}

uint64_t Uart16550Model::IdleAt() const {
  if (StuckTransmitter && (Shifting || !TxQueue.empty())) {
    return std::numeric_limits<uint64_t>::max();
  }
  if (!Shifting) {
    return Bus.Now();
  }
  return ShiftEnd + TxQueue.size() * FrameNanoseconds(Divisor(), LcrValue);
}

size_t Uart16550Model::TransmitCapacity() const {
  if (!FifoOn) {
    return 1;  // the holding register of 16450 mode
  }
  return Fifo64 ? LargeFifoDepth : StandardFifoDepth;
}

bool Uart16550Model::RegisterAt(uint32_t Address, unsigned& Index) const {
  const uint32_t Offset = Address - Location.Base;
  if (Offset % Location.Stride != 0) {
    return false;
  }
  Index = Offset / Location.Stride;
  return Index < RegisterCount;
}

uint32_t Uart16550Model::PortRead(uint16_t Port, unsigned) {
  unsigned Index = 0;
  if (!Answers()) {
    return 0xFFFFFFFFu;
  }
  // Bytes between strided registers are reserved and read 0.
  return RegisterAt(Port, Index) ? Read(Index) : 0;
}

void Uart16550Model::PortWrite(uint16_t Port, unsigned, uint32_t Value) {
  unsigned Index = 0;
  if (Answers() && RegisterAt(Port, Index)) {
    Write(Index, static_cast<uint8_t>(Value));
  }
}

uint8_t Uart16550Model::MemoryRead(uint32_t Address) {
  unsigned Index = 0;
  if (!Answers()) {
    return 0xFF;
  }
  return RegisterAt(Address, Index) ? Read(Index) : 0;
}

void Uart16550Model::MemoryWrite(uint32_t Address, uint8_t Value) {
  unsigned Index = 0;
  if (Answers() && RegisterAt(Address, Index)) {
    Write(Index, Value);
  }
}

uint8_t Uart16550Model::LineStatus() const {
  uint8_t Status = 0;
  if (!RxQueue.empty()) {
    Status |= DataReady;
  }
  if (OverrunError) {
    Status |= OverrunErrorBit;
  }
  if (!StuckTransmitter) {
    if (TxQueue.empty()) {
      Status |= HoldingEmpty;
      if (!Shifting) {
        Status |= TransmitterEmpty;
      }
    }
  }
  return Status;
}

uint8_t Uart16550Model::ModemStatusLines() const {
  if ((McrValue & Loopback) == 0) {
    return Lines;
  }
  // Loopback ties the outputs to the inputs: RTS to CTS, DTR to DSR, OUT1 to RI, OUT2 to DCD.
  return static_cast<uint8_t>(((McrValue & 0x02) << 3) | ((McrValue & 0x01) << 5) | ((McrValue & 0x04) << 4) |
                              ((McrValue & 0x08) << 4));
}

uint8_t Uart16550Model::InterruptIdentification() {
  uint8_t Source = NoInterruptPending;
  if ((IerValue & LineStatusInterrupt) != 0 && OverrunError) {
    Source = LineStatusSource;
  } else if ((IerValue & ReceiveDataInterrupt) != 0 && !RxQueue.empty()) {
    Source = ReceiveDataSource;
  } else if ((IerValue & HoldingEmptyInterrupt) != 0 && ThreInterrupt && (LineStatus() & HoldingEmpty) != 0) {
    Source = HoldingEmptySource;
    ThreInterrupt = false;  // reading IIR acknowledges a THRE interrupt
  } else if ((IerValue & ModemStatusInterrupt) != 0 && ModemDeltas != 0) {
    Source = ModemStatusSource;
  }
  if (FifoOn && !FifosReportedOff) {
    Source |= FifosEnabledBits;
    if (Fifo64) {
      Source |= LargeFifoEnabledBit;
    }
  }
  return Source;
}

void Uart16550Model::NoteAccess(unsigned Index, bool IsRead) {
  const bool StatusRead = IsRead && (Index == LineStatusRegister || Index == ModemStatusRegister);
  if (StatusRead && CurrentRun.Reads != 0 && CurrentRun.Register == Index) {
    ++CurrentRun.Reads;
    return;
  }
  if (LongPollReads != 0 && CurrentRun.Reads >= LongPollReads) {
    KeptRuns.push_back(CurrentRun);
  }
  CurrentRun = {Index, StatusRead ? 1u : 0u};
}

std::vector<Uart16550Model::PollRun> Uart16550Model::LongPolls() const {
  std::vector<PollRun> Runs = KeptRuns;
  if (LongPollReads != 0 && CurrentRun.Reads >= LongPollReads) {
    Runs.push_back(CurrentRun);
  }
  return Runs;
}

uint8_t Uart16550Model::Read(unsigned Index) {
  NoteAccess(Index, true);
  CatchUp();
  const bool Dlab = (LcrValue & DivisorLatchAccess) != 0;
  switch (Index) {
    case DataRegister: {
      if (Dlab) {
        return Dll;
      }
      if (RxQueue.empty()) {
        return 0;
      }
      const uint8_t Byte = RxQueue.front();
      RxQueue.pop_front();
      return Byte;
    }
    case InterruptEnableRegister:
      return Dlab ? Dlm : IerValue;
    case InterruptIdentityRegister:
      return InterruptIdentification();
    case LineControlRegister:
      return LcrValue;
    case ModemControlRegister:
      return McrValue;
    case LineStatusRegister: {
      const uint8_t Status = LineStatus();
      OverrunError = false;  // reading LSR clears the error bits
      return Status;
    }
    case ModemStatusRegister: {
      const uint8_t Status = static_cast<uint8_t>(ModemStatusLines() | ModemDeltas);
      ModemDeltas = 0;
      return Status;
    }
    case ScratchRegister:
    default:
      return ScrValue;
  }
}

void Uart16550Model::SetFraming(uint8_t NewLcr, uint16_t NewDivisor) {
  // The character on the wire changes shape under the receiver's feet.
  const bool Changed = (NewLcr & FrameFormatMask) != (LcrValue & FrameFormatMask) || NewDivisor != Divisor();
  if (Changed && Shifting && (McrValue & Loopback) == 0 && !Frames.empty()) {
    Frames.back().Disturbed = true;
  }
  LcrValue = NewLcr;
  Dll = static_cast<uint8_t>(NewDivisor);
  Dlm = static_cast<uint8_t>(NewDivisor >> 8);
}

void Uart16550Model::WriteFifoControl(uint8_t Value) {
  const bool Enable = (Value & FifoEnable) != 0;
  // Switching the FIFOs on or off empties both of them.
  if (Enable != FifoOn || (Enable && (Value & ClearTransmitFifo) != 0)) {
    FlushedCount += static_cast<unsigned>(TxQueue.size());
    TxQueue.clear();
  }
  if (Enable != FifoOn || (Enable && (Value & ClearReceiveFifo) != 0)) {
    RxQueue.clear();
  }
  FifoOn = Enable;
  Fifo64 = Enable && (Value & LargeFifoEnable) != 0;
  FcrValue = Value;
}

void Uart16550Model::Write(unsigned Index, uint8_t Value) {
  NoteAccess(Index, false);
  CatchUp();
  const bool Dlab = (LcrValue & DivisorLatchAccess) != 0;
  switch (Index) {
    case DataRegister:
      if (Dlab) {
        SetFraming(LcrValue, static_cast<uint16_t>(Dlm << 8 | Value));
        return;
      }
      if (OnTransmitWrite) {
        OnTransmitWrite(Value);
      }
      ThreInterrupt = false;
      if (TxQueue.size() >= TransmitCapacity()) {
        ++OverrunCount;
        return;
      }
      if (!Shifting && !StuckTransmitter) {
        StartFrame(Value, Bus.Now());
        ThreInterrupt = true;
        return;
      }
      TxQueue.push_back(Value);
      return;
    case InterruptEnableRegister:
      if (Dlab) {
        SetFraming(LcrValue, static_cast<uint16_t>(Value << 8 | Dll));
        return;
      }
      if ((Value & HoldingEmptyInterrupt) != 0 && (IerValue & HoldingEmptyInterrupt) == 0) {
        ThreInterrupt = true;  // enabling ETBEI with THR empty raises the interrupt at once
      }
      IerValue = Value & 0x0F;
      return;
    case InterruptIdentityRegister:
      WriteFifoControl(Value);
      return;
    case LineControlRegister:
      SetFraming(Value, Divisor());
      return;
    case ModemControlRegister:
      McrValue = Value & ModemControlMask;
      NoteModemLines(Bus.Now());
      return;
    case LineStatusRegister:
    case ModemStatusRegister:
      return;  // read-only
    case ScratchRegister:
    default:
      ScrValue = Value;
      return;
  }
}

}  // namespace Sim

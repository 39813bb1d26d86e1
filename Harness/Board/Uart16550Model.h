// A 16550-compatible UART at register level, with a time model of its
// transmitter and a capture of every character it puts on the line.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Processor.h"
#include "SerialFrame.h"

namespace Sim {

// One character as it went out: the value and the line settings in force when
// its start bit left, and when it started and finished on the board clock.
struct UartFrame {
  uint8_t Value;
  uint16_t Divisor;
  uint8_t LineControl;  // LCR at the start bit
  uint64_t Start;       // ns
  uint64_t End;         // ns, after the last stop bit
  bool Disturbed;       // the divisor or the frame format changed while it was shifting out
};

// The modem lines as they stood from a moment of board time on: the outputs
// the driver sets in MCR and the inputs the cable drives, true when asserted.
struct ModemLines {
  uint64_t At;  // ns
  bool Rts;
  bool Dtr;
  bool Cts;
  bool Dsr;

  bool SameLevels(const ModemLines& Other) const {
    return Rts == Other.Rts && Dtr == Other.Dtr && Cts == Other.Cts && Dsr == Other.Dsr;
  }
};

// The model follows the 16550D datasheet, plus the 64-byte FIFO mode of the
// 16750 (FCR bit 5, reported in IIR bit 5). Registers sit at Base + Index x
// Stride, on the port bus or in the memory-mapped space. The board clock only
// moves with bus accesses, so the transmitter catches up with it whenever the
// UART is touched.
class Uart16550Model : public PortDevice, public MemoryDevice {
public:
  static constexpr uint32_t InputClockHz = SerialFrame::InputClockHz;

  struct Placement {
    uint32_t Base;
    uint32_t Stride = 1;
    bool InMemory = false;  // registers in the memory-mapped space instead of on I/O ports
  };

  Uart16550Model(Processor& Bus, Placement Where);
  ~Uart16550Model() override;
  Uart16550Model(const Uart16550Model&) = delete;
  Uart16550Model& operator=(const Uart16550Model&) = delete;

  const Placement& Where() const { return Location; }

  // Fault switches.
  bool Absent = false;            // not fitted: reads all-ones, writes vanish
  bool StuckTransmitter = false;  // LSR never reports THRE or TEMT, and nothing leaves the line
  bool FifosReportedOff = false;  // IIR bits 6..7 read 0 although the FIFOs work
  // When set, the UART answers only while this returns true (a Super I/O
  // that decodes the UART's ports only while the logical device is active).
  std::function<bool()> Decoding;
  // Called with each byte written to THR, before the UART takes it: a test's
  // way to change the board at an exact point of a run.
  std::function<void(uint8_t)> OnTransmitWrite;
  // The modem-status inputs from the cable (MSR bits 4..7); a change sets
  // the matching delta bit, as on the chip.
  void SetModemLines(bool Cts, bool Dsr, bool Ri = false, bool Dcd = true);
  // A peer whose receive buffer fills: it drops CTS when the AfterBytes-th
  // character has reached it and raises it again Nanoseconds later.
  struct PeerPause {
    uint64_t AfterBytes;
    uint64_t Nanoseconds;
  };
  std::optional<PeerPause> Pause;
  // Every change of the modem lines, the first entry the lines at power-on.
  const std::vector<ModemLines>& ModemLineHistory() const { return ModemHistory; }

  // The programming an earlier boot stage left behind, set without bus cycles.
  void Preset(uint16_t Divisor, uint8_t LineControl, uint8_t FifoControl, uint8_t ModemControl = 0);
  // Characters arriving from the cable.
  void Receive(std::string_view Bytes);

  // What the transmitter accepted and did not lose, in line order: the frames
  // that started, then the bytes still queued (they go out at the settings in
  // force when their turn comes; see Line() once they have).
  std::string Transmitted() const;
  const std::vector<UartFrame>& Line() const { return Frames; }
  uint64_t LineBusyNanoseconds() const;  // the summed frame times of Line()
  void ClearLine() { Frames.clear(); }
  // Bytes written to THR while the FIFO (or holding register) was full, and
  // bytes thrown away from the transmit FIFO by FCR.
  unsigned Overruns() const { return OverrunCount; }
  unsigned FlushedBytes() const { return FlushedCount; }

  // Waits as the chip sees them: a run of reads of LSR or MSR with no other
  // access to this UART between them. Runs of at least LongPollReads reads are
  // kept (0 keeps none), so that a runner can tell the waits a driver gave up.
  struct PollRun {
    unsigned Register;  // 5 LSR, 6 MSR
    uint64_t Reads;
  };
  uint64_t LongPollReads = 0;
  std::vector<PollRun> LongPolls() const;  // in order, a run still going included

  // Lets the transmitter catch up with the board clock (the model does this
  // on every access; tests call it after letting time pass).
  void CatchUp();
  // Board time at which the transmitter will be empty if nothing more is written.
  uint64_t IdleAt() const;

  // Register state, inspected without bus cycles.
  uint16_t Divisor() const { return static_cast<uint16_t>(Dlm << 8 | Dll); }
  uint8_t Lcr() const { return LcrValue; }
  uint8_t Ier() const { return IerValue; }
  uint8_t Mcr() const { return McrValue; }
  uint8_t Scr() const { return ScrValue; }
  uint8_t LastFcr() const { return FcrValue; }  // FCR is write-only on the chip
  bool FifosEnabled() const { return FifoOn; }
  bool LargeFifo() const { return FifoOn && Fifo64; }
  size_t TransmitQueued() const { return TxQueue.size(); }

  static uint64_t FrameNanoseconds(uint16_t Divisor, uint8_t LineControl);

  uint32_t PortRead(uint16_t Port, unsigned Size) override;
  void PortWrite(uint16_t Port, unsigned Size, uint32_t Value) override;
  uint8_t MemoryRead(uint32_t Address) override;
  void MemoryWrite(uint32_t Address, uint8_t Value) override;

private:
  bool Answers() const { return !Absent && (!Decoding || Decoding()); }
  bool RegisterAt(uint32_t Address, unsigned& Index) const;
  uint8_t Read(unsigned Index);
  void Write(unsigned Index, uint8_t Value);
  void WriteFifoControl(uint8_t Value);
  void SetFraming(uint8_t NewLcr, uint16_t NewDivisor);
  void StartFrame(uint8_t Value, uint64_t At);
  size_t TransmitCapacity() const;
  size_t ReceiveCapacity() const { return FifoOn ? (Fifo64 ? 64 : 16) : 1; }
  uint8_t LineStatus() const;
  uint8_t InterruptIdentification();
  uint8_t ModemStatusLines() const;
  void NoteAccess(unsigned Index, bool IsRead);
  void ChangeModemInputs(uint8_t New, uint64_t At);
  void NoteModemLines(uint64_t At);
  void FollowPeer();

  Processor& Bus;
  Placement Location;

  // Registers; the divisor survives reset undefined on the chip, this one
  // comes up at 12 (9600 baud) as a PC BIOS would leave it.
  uint8_t Dll = 12, Dlm = 0;
  uint8_t IerValue = 0, LcrValue = 0, McrValue = 0, ScrValue = 0, FcrValue = 0;
  bool FifoOn = false, Fifo64 = false;
  bool OverrunError = false;
  bool ThreInterrupt = false;
  uint8_t Lines = 0xB0;  // CTS, DSR and DCD asserted: a terminal is attached
  uint8_t ModemDeltas = 0;

  // Transmitter: the shift register and the holding register or FIFO.
  bool Shifting = false;
  uint64_t ShiftEnd = 0;
  std::deque<uint8_t> TxQueue;
  std::deque<uint8_t> RxQueue;
  std::vector<UartFrame> Frames;
  unsigned OverrunCount = 0;
  unsigned FlushedCount = 0;

  std::vector<ModemLines> ModemHistory;
  uint64_t FramesOnLine = 0;          // frames started since power-on, ClearLine or not
  std::optional<uint64_t> PauseFrom;  // when the peer drops CTS, once its byte is under way
  enum class PeerStage : uint8_t { Waiting, Paused, Over };
  PeerStage PauseStage = PeerStage::Waiting;

  PollRun CurrentRun{0, 0};
  std::vector<PollRun> KeptRuns;
};

}  // namespace Sim

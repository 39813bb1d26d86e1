// Names the first place where the host build and the image part ways.
#include <algorithm>

#include "BoardRun.h"

namespace Agreement {
namespace {
template <typename T>
std::string Joined(const std::vector<T>& Items) {
  std::string Text;
  for (const T& Each : Items) {
    if constexpr (std::is_same_v<T, std::string>) {
      Text += (Text.empty() ? "" : "; ") + Each;
    } else {
      Text += (Text.empty() ? "" : " ") + std::to_string(Each);
    }
  }
  return "[" + Text + "]";
}

std::string Escaped(const std::string& Bytes) {
  std::string Text;
  for (const char Each : Bytes) {
    if (Each == '\r') {
      Text += "\\r";
    } else if (Each == '\n') {
      Text += "\\n";
    } else {
      Text += Each;
    }
  }
  return "\"" + Text + "\"";
}

std::string TraceDifference(const std::vector<Sim::BusEvent>& Host, const std::vector<Sim::BusEvent>& Image) {
  const auto [HostAt, ImageAt] = std::mismatch(Host.begin(), Host.end(), Image.begin(), Image.end());
  if (HostAt == Host.end() && ImageAt == Image.end()) {
    return "";
  }
  const size_t Index = static_cast<size_t>(HostAt - Host.begin());
  std::string Text = "the access traces part at access #" + std::to_string(Index) + ": host " +
                     (HostAt == Host.end() ? std::string("(no more accesses)") : "'" + Sim::Describe(*HostAt) + "'") +
                     ", image " +
                     (ImageAt == Image.end() ? std::string("(no more accesses)") : "'" + Sim::Describe(*ImageAt) + "'");
  if (Index > 0) {
    Text += ", after '" + Sim::Describe(Host[Index - 1]) + "'";
  }
  return Text + " (" + std::to_string(Host.size()) + " accesses on the host, " + std::to_string(Image.size()) +
         " in the image)";
}
}  // namespace

std::string FirstDifference(const Record& Host, const Record& Image) {
  // A fault or stall explains everything after it, so it comes first when the
  // outcomes differ; otherwise the trace shows where the runs parted.
  const std::string Trace = TraceDifference(Host.Trace, Image.Trace);
  if (Host.Outcome != Image.Outcome && (Trace.empty() || Image.Outcome.starts_with("fault"))) {
    return "outcome: host " + Host.Outcome + ", image " + Image.Outcome + (Trace.empty() ? "" : "; " + Trace);
  }
  if (!Trace.empty()) {
    return Trace + "; outcome: host " + Host.Outcome + ", image " + Image.Outcome;
  }
  const struct {
    const char* What;
    std::string Host;
    std::string Image;
  } Fields[] = {
      {"results of the calls", Joined(Host.Results), Joined(Image.Results)},
      {"COM1 bytes", Escaped(Host.Com1), Escaped(Image.Com1)},
      {"COM2 bytes", Escaped(Host.Com2), Escaped(Image.Com2)},
      {"port accesses", std::to_string(Host.PortAccesses), std::to_string(Image.PortAccesses)},
      {"board time (ns)", std::to_string(Host.BoardNanoseconds), std::to_string(Image.BoardNanoseconds)},
      {"breakpoints", std::to_string(Host.Breakpoints), std::to_string(Image.Breakpoints)},
      {"halts released", std::to_string(Host.HaltsReleased), std::to_string(Image.HaltsReleased)},
      {"port 0xE8 codes", Joined(Host.DiagnosticCodes), Joined(Image.DiagnosticCodes)},
      {"interrupt flag", Host.InterruptFlag ? "set" : "clear", Image.InterruptFlag ? "set" : "clear"},
      {"AllocatePool calls", std::to_string(Host.Allocations), std::to_string(Image.Allocations)},
      {"InstallPpi calls", std::to_string(Host.Installs), std::to_string(Image.Installs)},
      {"pool blocks", Joined(Host.Blocks), Joined(Image.Blocks)},
      {"pool past the blocks", Host.PoolTailUntouched ? "untouched" : "written",
       Image.PoolTailUntouched ? "untouched" : "written"},
      {"installed PPIs", Joined(Host.Ppis), Joined(Image.Ppis)},
  };
  for (const auto& Field : Fields) {
    if (Field.Host != Field.Image) {
      return std::string(Field.What) + ": host " + Field.Host + ", image " + Field.Image;
    }
  }
  return "";
}

}  // namespace Agreement

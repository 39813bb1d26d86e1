// The VCD's header, its initial values and its value changes in time order.
#include "VcdWriter.h"

#include <algorithm>
#include <stdexcept>

namespace Sim {

VcdWriter::Wire VcdWriter::Declare(const std::string& Scope, const std::string& Name, bool Initial) {
  for (const Declared& Each : Wires) {
    if (Each.Name == Name) {
      throw std::logic_error("VCD wire " + Name + " declared twice");
    }
  }
  Wires.push_back({Scope, Name, Initial});
  return static_cast<Wire>(Wires.size() - 1);
}

void VcdWriter::Change(uint64_t At, Wire Which, bool Level) {
  if (Which >= Wires.size()) {
    throw std::logic_error("VCD change of an undeclared wire");
  }
  Pending.push_back({At, Which, Level});
}

// Digits of a bijective base-94 number, so that every code is distinct.
std::string VcdWriter::Code(Wire Which) {
  constexpr unsigned First = '!';
  constexpr unsigned Count = '~' - '!' + 1;
  std::string Text;
  uint64_t Rest = Which;
  while (true) {
    Text.push_back(static_cast<char>(First + Rest % Count));
    Rest /= Count;
    if (Rest == 0) {
      return Text;
    }
    --Rest;
  }
}

void VcdWriter::Write(std::ostream& Out, uint64_t Until) {
  // Stable, so that of two changes at one moment the later one given wins.
  std::stable_sort(Pending.begin(), Pending.end(), [](const Event& A, const Event& B) { return A.At < B.At; });

  std::vector<std::string> Codes;
  std::vector<char> Level;
  for (Wire Each = 0; Each < Wires.size(); ++Each) {
    Codes.push_back(Code(Each));
    Level.push_back(Wires[Each].Initial ? '1' : '0');
  }
  std::string Text = "$version QelVersionPei simulated board $end\n$timescale 1 ns $end\n";
  Text += "$scope module " + Top + " $end\n";
  std::vector<std::string> Scopes;
  for (const Declared& Each : Wires) {
    if (std::find(Scopes.begin(), Scopes.end(), Each.Scope) == Scopes.end()) {
      Scopes.push_back(Each.Scope);
    }
  }
  for (const std::string& Scope : Scopes) {
    Text += " $scope module " + Scope + " $end\n";
    for (Wire Each = 0; Each < Wires.size(); ++Each) {
      if (Wires[Each].Scope == Scope) {
        Text += "  $var wire 1 " + Codes[Each] + " " + Wires[Each].Name + " $end\n";
      }
    }
    Text += " $upscope $end\n";
  }
  Text += "$upscope $end\n$enddefinitions $end\n";

  // Changes at time 0 are the initial values.
  size_t Next = 0;
  for (; Next < Pending.size() && Pending[Next].At == 0; ++Next) {
    Level[Pending[Next].Which] = Pending[Next].Level ? '1' : '0';
  }
  Text += "#0\n$dumpvars\n";
  for (Wire Each = 0; Each < Wires.size(); ++Each) {
    Text += Level[Each] + Codes[Each] + "\n";
  }
  Text += "$end\n";

  std::vector<char> Wanted(Wires.size(), 0);  // 0: no change at this moment
  std::vector<Wire> Touched;
  uint64_t Written = 0;
  while (Next < Pending.size()) {
    const uint64_t At = Pending[Next].At;
    for (; Next < Pending.size() && Pending[Next].At == At; ++Next) {
      if (Wanted[Pending[Next].Which] == 0) {
        Touched.push_back(Pending[Next].Which);
      }
      Wanted[Pending[Next].Which] = Pending[Next].Level ? '1' : '0';
    }
    bool Stamped = false;
    for (const Wire Each : Touched) {
      if (Wanted[Each] != Level[Each]) {
        if (!Stamped) {
          Text += "#" + std::to_string(At) + "\n";
          Stamped = true;
          Written = At;
        }
        Level[Each] = Wanted[Each];
        Text += Level[Each] + Codes[Each] + "\n";
      }
      Wanted[Each] = 0;
    }
    Touched.clear();
    if (Text.size() > (1u << 20)) {
      Out << Text;
      Text.clear();
    }
  }
  // The last stamp tells a viewer how long the last levels lasted.
  if (Until > Written) {
    Text += "#" + std::to_string(Until) + "\n";
  }
  Out << Text;
}

}  // namespace Sim

// Reads the publics of an lld-link map.
#include "ImageMap.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "HexField.h"

namespace ImageMode {

std::string PlainName(std::string_view Decorated) {
  if (Decorated.starts_with("?") && !Decorated.starts_with("??")) {
    const size_t End = Decorated.find('@');
    return std::string(Decorated.substr(1, End == std::string_view::npos ? std::string_view::npos : End - 1));
  }
  if (Decorated.starts_with("_")) {
    return std::string(Decorated.substr(1));
  }
  return std::string(Decorated);
}

ImageMap ImageMap::Read(const std::string& Path) {
  std::ifstream File(Path);
  if (!File) {
    return {};
  }
  std::stringstream Text;
  Text << File.rdbuf();
  return Parse(Text.str());
}

// A public reads "0001:000000d0       _ModuleEntry   00000000000002d0     PeimEntryPoint.cpp.obj";
// the third column is the RVA (the image base is 0).
ImageMap ImageMap::Parse(std::string_view Text) {
  ImageMap Map;
  bool InPublics = false;
  size_t Start = 0;
  while (Start < Text.size()) {
    size_t End = Text.find('\n', Start);
    if (End == std::string_view::npos) {
      End = Text.size();
    }
    const std::string Line(Text.substr(Start, End - Start));
    Start = End + 1;
    if (Line.find("Publics by Value") != std::string::npos) {
      InPublics = true;
      continue;
    }
    if (!InPublics) {
      continue;
    }
    std::istringstream Fields(Line);
    std::string Where, Name, Rva;
    if (!(Fields >> Where >> Name >> Rva) || Where.size() != 13 || Where[4] != ':') {
      continue;
    }
    unsigned long long Value = 0;
    if (std::sscanf(Rva.c_str(), "%llx", &Value) != 1 || Value > 0xFFFFFFFFull) {
      continue;
    }
    Map.Symbols.push_back({Name, static_cast<uint32_t>(Value)});
  }
  std::stable_sort(Map.Symbols.begin(), Map.Symbols.end(),
                   [](const Symbol& Left, const Symbol& Right) { return Left.Rva < Right.Rva; });
  return Map;
}

std::optional<uint32_t> ImageMap::Find(std::string_view Name) const {
  std::optional<uint32_t> Found;
  for (const Symbol& Each : Symbols) {
    if (Each.Name == Name || (!Each.Name.starts_with("??") && PlainName(Each.Name) == Name)) {
      if (Found && *Found != Each.Rva) {
        return std::nullopt;
      }
      Found = Each.Rva;
    }
  }
  return Found;
}

std::string ImageMap::Describe(uint32_t Rva) const {
  const Symbol* Below = nullptr;
  for (const Symbol& Each : Symbols) {
    if (Each.Rva > Rva) {
      break;
    }
    Below = &Each;
  }
  if (Below == nullptr) {
    return "";
  }
  return PlainName(Below->Name) + (Rva == Below->Rva ? "" : "+" + HexField(Rva - Below->Rva, 1));
}

}  // namespace ImageMode

// The linker's map of an image: the RVA of each public symbol, so that a
// harness can call a routine of the image and name the routine an address
// falls in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ImageMode {

class ImageMap {
public:
  struct Symbol {
    std::string Name;  // as decorated by the compiler
    uint32_t Rva;
  };

  ImageMap() = default;
  // Reads an lld-link /map file; an unreadable file gives an empty map.
  static ImageMap Read(const std::string& Path);
  static ImageMap Parse(std::string_view Text);

  bool Empty() const { return Symbols.empty(); }
  // A routine by its plain name: "ModuleEntry" finds "_ModuleEntry" and
  // "AsciiFormat" finds "?AsciiFormat@@YAIPADIPBDZZ"; empty when the name is
  // unknown or names more than one symbol.
  std::optional<uint32_t> Find(std::string_view Name) const;
  // "AsciiFormat+0x1C" for the symbol at or below Rva; empty when there is none.
  std::string Describe(uint32_t Rva) const;

private:
  std::vector<Symbol> Symbols;  // by RVA
};

// The plain name of a decorated symbol: "?Name@@..." reads Name, "_Name" reads Name.
std::string PlainName(std::string_view Decorated);

}  // namespace ImageMode

// Boots the image with the runner's scenario and says what it ran.
#include "ImageBoot.h"

#include <cstdio>
#include <filesystem>

ImageBoot::ImageBoot(Sim::Board& Board, const std::string& ImagePath) : Path(ImagePath) {
  const std::vector<uint8_t> File = ImageMode::ReadImageFile(Path);
  FileBytes = File.size();
  Machine = std::make_unique<ImageMode::ImageMachine>(Board.Processor(), File);
  // The linker writes the map beside the image; without it faults name RVAs only.
  const size_t Dot = Path.rfind('.');
  Machine->UseMap(ImageMode::ImageMap::Read((Dot == std::string::npos ? Path : Path.substr(0, Dot)) + ".map"));
}

BootOutcome ImageBoot::Boot(uint32_t Revision, const Pei::FailureSwitches& Fail) {
  Machine->StartFoundation(Revision, Fail);
  BootOutcome Outcome;
  try {
    Outcome.Status = Machine->RunModuleEntry();
  } catch (const Sim::BoardStall& Stall) {
    Outcome.Stall = Stall.what();
  } catch (const ImageMode::ImageFault& Fault) {
    Outcome.Fault = Fault.what();
  }
  Outcome.StackBytes = Machine->DeepestStack();
  const LoadedImage& Image = Machine->Image();
  char Line[160];
  if (Image.Address == Image.PreferredBase) {
    std::snprintf(Line, sizeof Line, ": %zu bytes, run in place at 0x%08X where it was rebased to, %llu instructions",
                  FileBytes, Image.Address, static_cast<unsigned long long>(Machine->Instructions()));
  } else {
    std::snprintf(Line, sizeof Line, ": %zu bytes, run at 0x%08X (%u fix-up%s), %llu instructions", FileBytes,
                  Image.Address, Image.Relocations, Image.Relocations == 1 ? "" : "s",
                  static_cast<unsigned long long>(Machine->Instructions()));
  }
  std::error_code Failed;
  const std::filesystem::path Shown = std::filesystem::proximate(Path, Failed);
  Outcome.ImageLine = (Failed ? Path : Shown.string()) + Line;
  return Outcome;
}

FoundationView ImageBoot::View() const {
  const ImageMode::ImageMachine* Emulated = Machine.get();
  return {Machine->Foundation(),
          [Emulated](uint32_t At, void* Into, uint32_t Size) { return Emulated->Read(At, Into, Size); }};
}

// The board runner's image mode: the module's PE32 image on the CPU emulator,
// booted on the runner's board.
#pragma once

#include <memory>
#include <string>

#include "BoardReport.h"
#include "ImageMachine.h"

class ImageBoot {
public:
  // Throws ImageMode::BadImage with a one-line reason.
  ImageBoot(Sim::Board& Board, const std::string& Path);

  BootOutcome Boot(uint32_t Revision, const Pei::FailureSwitches& Fail);
  const Pei::Foundation& Foundation() const { return Machine->Foundation(); }
  FoundationView View() const;

private:
  std::string Path;
  size_t FileBytes = 0;
  std::unique_ptr<ImageMode::ImageMachine> Machine;
};

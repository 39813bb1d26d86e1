// The table of whole-module board scenarios that both builds run.
#pragma once

#include <string>
#include <vector>

#include "BoardRun.h"

namespace Agreement {
const std::vector<Scenario>& AllScenarios();
std::vector<const Scenario*> ScenariosOf(const std::string& Variant);
}  // namespace Agreement

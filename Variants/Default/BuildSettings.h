// The settings of the shipped image: the defaults, unchanged.
#pragma once

#include "DefaultSettings.h"

namespace Settings {
using namespace DefaultSettings;
}

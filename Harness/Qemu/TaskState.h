// A second task for the double fault: a stack overflow faults while the
// processor pushes the page fault's frame onto the overflowed stack, and only
// a task switch gives the handler a stack of its own to report from.
#pragma once

#include "Base.h"

inline constexpr UINT16 DoubleFaultTaskSelector = 0x20;

// Loads a GDT with the harness's code and data segments and the two task
// state segments, and makes the first one the current task.
void InstallTaskStates();
// The handler task runs with the paging in force when this is called.
void ArmDoubleFaultTask();

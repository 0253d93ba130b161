// Test seam for the runtime's clocks.
#pragma once

#include "velk/oleauto.h"

namespace velk::rt {

// Replaces the clocks behind VelkSystemTime100ns and VelkTickCount for the whole process
// (for example to make the tick count wrap). A null function restores that real clock.
// Tests must restore both before they end.
void SetClockForTesting(ULONGLONG (*systemTime)(), DWORD (*tickCount)());

}  // namespace velk::rt

// The interpreter loop of script functions.
#pragma once

#include "core/vm/value.h"

// Runs the script call prepared by VmPreCall; returns its first result, or
// null when the run ended early (abort).
VmValue* VmExecute(VmState* state);

#pragma once

// The volume generator: builds Mac-like volumes in a folder for the tool
// mkvolume, the tests and the benchmarks.
//
//   VolumeBuilder        describe receipts, applications and loose files, then write()
//   buildDemoVolume()    the demo volume, every case of the catalogue at least once
//   buildLargeVolume()   hundreds of packages and hundreds of thousands of paths
//   removeVolume()       deletes a generated volume, immutable items included

#include "DemoVolume.h"
#include "LargeVolume.h"
#include "VolumeBuilder.h"
#include "VolumeRemoval.h"
#include "VolumeItems.h"

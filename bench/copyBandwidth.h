// The yardstick the benchmarks print beside their figures: how fast this machine copies between two
// arrays far larger than its caches, with the widest vector stores it has.
//
// A plain store first reads the line it writes (write-allocate), so a plain copy moves three bytes for
// every byte copied; a copy with streaming stores moves two. Both are reported as memory traffic, the
// rate to hold a kernel's bytes per node against (those count write-allocate wherever a kernel stores
// plainly).
#pragma once

#include <cstddef>

struct CopyBandwidth {
  double plainTraffic;      // bytes per second moved by a plain copy: read, write-allocate, write
  double streamingTraffic;  // bytes per second moved by a copy with streaming stores: read, write
};

// Median of five copies of two arrays of `bytes` each on `threads` threads.
CopyBandwidth copyBandwidth(int threads, std::size_t bytes = std::size_t(1) << 29);

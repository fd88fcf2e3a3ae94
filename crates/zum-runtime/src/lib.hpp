#pragma once

#include "config.hpp"

// The runtime library zum_runtime: blocked-data layouts, packing matrices into them, matrix
// multiplication through them, and the checked arithmetic and panic they are built on.
#include "blocked_data.hpp"
#include "checked_arithmetic.hpp"
#include "gemm.hpp"
#include "packing.hpp"
#include "panic.hpp"

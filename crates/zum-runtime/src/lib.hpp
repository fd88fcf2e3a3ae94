#pragma once

#include <zum_runtime/config.hpp>

// The runtime library zum_runtime: blocked-data layouts, packing matrices into them, matrix
// multiplication through them, bfloat16, and the checked arithmetic and panic they are built on.
#include <zum_runtime/bfloat16.hpp>
#include <zum_runtime/blocked_data.hpp>
#include <zum_runtime/checked_arithmetic.hpp>
#include <zum_runtime/gemm.hpp>
#include <zum_runtime/packing.hpp>
#include <zum_runtime/panic.hpp>

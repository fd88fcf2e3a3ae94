#pragma once

#include "base/internal/bfloat16_paths.hpp"

// Each path's conversion kernels, defined in the path's own unit. Internal.
namespace zum_runtime::bf16 {

namespace generic_code {
const Conversions& conversions();
}
#if ZUM_X86_64
namespace sse2_code {
const Conversions& conversions();
}
namespace avx2_code {
const Conversions& conversions();
}
namespace avx512_code {
const Conversions& conversions();
}
namespace avx512_bf16_code {
const Conversions& conversions();
}
#endif

}  // namespace zum_runtime::bf16

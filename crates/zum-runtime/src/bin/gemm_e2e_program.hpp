#pragma once

// The zum_gemm_e2e program: one GEMM end to end, from the command line
//
//   zum-gemm-e2e M N K [--type f32|f64|bf16|int8|s8] [--transpose-a] [--transpose-b] [--threads T]
//                      [--packed-b] [--repeat R] [--seed S] [--json]
//
// It fills A, B and C from the seed, multiplies R times (the first untimed), checks sampled
// elements of C against a long double reference within the accuracy bound, and prints one
// summary. Exit status 0 when the check holds, 1 when an element exceeds its bound, 2 for bad
// input (one line on standard error). bf16 rounds A and B from the random floats and
// multiplies them into float C. int8 (unsigned A) and s8 (signed A) multiply random bytes by
// signed bytes of B, less zero points drawn from the seed, into int32 C, checked exactly
// against an int64 reference.
namespace zum_gemm_e2e {

int run_program(int argc, char* argv[]);

}  // namespace zum_gemm_e2e

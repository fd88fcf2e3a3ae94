// libzum_blas through its exported entry points, as a program calls them. This program defines
// its own xerbla_, which must receive every report in place of the library's.
#include <zum_runtime/blas.h>

#include <sys/mman.h>
#include <catch2/catch.hpp>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

struct Report {
  std::string routine;
  int info;
};

std::vector<Report>& reports() {
  static std::vector<Report> all;
  return all;
}

}  // namespace

extern "C" void xerbla_(const char* routine, const int* info, size_t routine_length) {
  reports().push_back({std::string(routine, routine_length), *info});
}

namespace {

// The arguments of one call, column-major numbering as the Fortran routine takes them.
struct Arguments {
  char transa, transb;
  int m, n, k, lda, ldb, ldc;
};

template <typename T>
void fortran_gemm(const Arguments& x, T alpha, const T* a, const T* b, T beta, T* c) {
  if constexpr (sizeof(T) == 4) {
    sgemm_(&x.transa, &x.transb, &x.m, &x.n, &x.k, &alpha, a, &x.lda, b, &x.ldb, &beta, c, &x.ldc,
           1, 1);
  } else {
    dgemm_(&x.transa, &x.transb, &x.m, &x.n, &x.k, &alpha, a, &x.lda, b, &x.ldb, &beta, c, &x.ldc,
           1, 1);
  }
}

template <typename T>
void c_gemm(int layout, int transa, int transb, const Arguments& x, T alpha, const T* a, const T* b,
            T beta, T* c) {
  const auto l = static_cast<CBLAS_LAYOUT>(layout);
  const auto ta = static_cast<CBLAS_TRANSPOSE>(transa);
  const auto tb = static_cast<CBLAS_TRANSPOSE>(transb);
  if constexpr (sizeof(T) == 4) {
    cblas_sgemm(l, ta, tb, x.m, x.n, x.k, alpha, a, x.lda, b, x.ldb, beta, c, x.ldc);
  } else {
    cblas_dgemm(l, ta, tb, x.m, x.n, x.k, alpha, a, x.lda, b, x.ldb, beta, c, x.ldc);
  }
}

bool transposes(char letter) {
  return letter != 'N' && letter != 'n';
}

// Column-major storage with leading dimension ld: element (i, j) at i + j · ld.
template <typename T>
struct Matrix {
  int rows, columns, ld;
  std::vector<T> values;
  Matrix(int r, int c, int l, std::mt19937& random) : rows(r), columns(c), ld(l) {
    std::uniform_real_distribution<T> value(-1, 1);
    values.resize(static_cast<std::size_t>(std::max(1, ld * std::max(1, c))));
    for (T& v : values) v = value(random);
  }
  T at(int i, int j) const { return values[static_cast<std::size_t>(i + j * ld)]; }
};

// Every element of C against a long double product, within (k + 2) · ε · (|α| Σ |a||b| + |β c|);
// C's rows past m, inside its leading dimension, must be as they were.
template <typename T>
void check_product(const Arguments& x, T alpha, const Matrix<T>& a, const Matrix<T>& b, T beta,
                   const Matrix<T>& c_before, const std::vector<T>& c) {
  const long double epsilon = std::numeric_limits<T>::epsilon();
  for (int j = 0; j < x.n; ++j) {
    for (int i = 0; i < x.ldc; ++i) {
      const T got = c[static_cast<std::size_t>(i + j * x.ldc)];
      if (i >= x.m) {
        REQUIRE(got == c_before.at(i, j));
        continue;
      }
      long double exact = 0, magnitude = 0;
      for (int p = 0; p < x.k; ++p) {
        const long double term =
            static_cast<long double>(transposes(x.transa) ? a.at(p, i) : a.at(i, p)) *
            (transposes(x.transb) ? b.at(j, p) : b.at(p, j));
        exact += term;
        magnitude += std::fabs(term);
      }
      const long double scaled_c = static_cast<long double>(beta) * c_before.at(i, j);
      const long double expected = alpha * exact + (beta == 0 ? 0 : scaled_c);
      const long double bound = (x.k + 2) * epsilon *
                                (std::fabs(static_cast<long double>(alpha)) * magnitude +
                                 (beta == 0 ? 0 : std::fabs(scaled_c)));
      INFO("element (" << i << ", " << j << ")");
      REQUIRE(std::fabs(got - expected) <= bound);
    }
  }
}

template <typename T>
void check_fortran_call(const Arguments& x, T alpha, T beta, std::mt19937& random) {
  const Matrix<T> a(transposes(x.transa) ? x.k : x.m, transposes(x.transa) ? x.m : x.k, x.lda,
                    random);
  const Matrix<T> b(transposes(x.transb) ? x.n : x.k, transposes(x.transb) ? x.k : x.n, x.ldb,
                    random);
  const Matrix<T> c_before(x.m, x.n, x.ldc, random);
  std::vector<T> c = c_before.values;
  fortran_gemm<T>(x, alpha, a.values.data(), b.values.data(), beta, c.data());
  check_product(x, alpha, a, b, beta, c_before, c);
}

const std::vector<Arguments> shapes{
    {'N', 'N', 1, 1, 1, 1, 1, 1},         {'N', 'N', 33, 17, 65, 35, 66, 40},
    {'T', 'N', 17, 40, 9, 9, 12, 20},     {'N', 'T', 65, 3, 31, 65, 3, 70},
    {'t', 'c', 12, 129, 50, 60, 130, 12}, {'c', 'n', 100, 77, 300, 300, 300, 101},
    {'n', 't', 16, 300, 200, 16, 300, 16}};

TEST_CASE("blas sgemm_ and dgemm_ match a long double product within the error bound", "[blas]") {
  std::mt19937 random(7);
  for (const Arguments& x : shapes) {
    for (const auto& [alpha, beta] : {std::pair{1.0, 0.0}, {0.7, 1.3}, {-2.0, 1.0}}) {
      INFO(x.transa << x.transb << " " << x.m << " x " << x.n << " x " << x.k << " alpha " << alpha
                    << " beta " << beta);
      check_fortran_call<float>(x, float(alpha), float(beta), random);
      check_fortran_call<double>(x, alpha, beta, random);
    }
  }
  REQUIRE(reports().empty());
}

TEST_CASE("blas cblas row-major is the row-major product, column-major the Fortran one", "[blas]") {
  // Row-major A (m × k, lda) is column-major Aᵀ: the same call with the letters the other way
  // round checks it against the Fortran form.
  std::mt19937 random(11);
  const int m = 37, n = 70, k = 45;
  for (const auto& [ta, tb] : {std::pair{CblasNoTrans, CblasNoTrans},
                               {CblasTrans, CblasNoTrans},
                               {CblasNoTrans, CblasTrans},
                               {CblasConjTrans, CblasTrans}}) {
    const bool a_t = ta != CblasNoTrans, b_t = tb != CblasNoTrans;
    const Matrix<float> a(a_t ? m : k, a_t ? k : m, (a_t ? m : k) + 2, random);  // row-major Aᵀ
    const Matrix<float> b(b_t ? k : n, b_t ? n : k, (b_t ? k : n) + 1, random);
    const Matrix<float> c_before(n, m, n + 3, random);
    std::vector<float> row_major = c_before.values;
    std::vector<float> reference = c_before.values;
    c_gemm<float>(CblasRowMajor, ta, tb, {'N', 'N', m, n, k, a.ld, b.ld, c_before.ld}, 0.5f,
                  a.values.data(), b.values.data(), 2.0f, row_major.data());
    // Cᵀ = op(B)ᵀ op(A)ᵀ, column-major.
    const Arguments swapped{b_t ? 'T' : 'N', a_t ? 'T' : 'N', n, m, k, b.ld, a.ld, c_before.ld};
    fortran_gemm<float>(swapped, 0.5f, b.values.data(), a.values.data(), 2.0f, reference.data());
    REQUIRE(row_major == reference);
    std::vector<float> column_major = c_before.values;
    c_gemm<float>(CblasColMajor, tb, ta, swapped, 0.5f, b.values.data(), a.values.data(), 2.0f,
                  column_major.data());
    REQUIRE(column_major == reference);
  }
}

struct BadCall {
  const char* what;
  Arguments arguments;
  int info;
};

// In the reference order: the first bad argument is the one reported.
const std::vector<BadCall> bad_fortran_calls{
    {"transa", {'X', 'N', 1, 1, 1, 1, 1, 1}, 1},
    {"transa before m", {'?', 'N', -1, 1, 1, 1, 1, 1}, 1},
    {"transb", {'N', 'R', 1, 1, 1, 1, 1, 1}, 2},
    {"m", {'N', 'N', -1, 1, 1, 1, 1, 1}, 3},
    {"m before lda", {'N', 'N', -1, 1, 1, 0, 1, 1}, 3},
    {"n", {'N', 'N', 1, -1, 1, 1, 1, 1}, 4},
    {"k", {'N', 'N', 1, 1, -1, 1, 1, 1}, 5},
    {"lda below m", {'N', 'N', 4, 1, 2, 3, 2, 4}, 8},
    {"lda below k, transposed", {'T', 'N', 2, 1, 4, 3, 4, 2}, 8},
    {"lda 0 with m 0", {'N', 'N', 0, 1, 1, 0, 1, 1}, 8},
    {"ldb below k", {'N', 'N', 1, 1, 3, 1, 2, 1}, 10},
    {"ldb below n, transposed", {'N', 't', 1, 5, 1, 1, 4, 1}, 10},
    {"ldc below m", {'N', 'N', 3, 1, 1, 3, 1, 2}, 13},
    {"ldc 0 with m 0", {'N', 'N', 0, 1, 1, 1, 1, 0}, 13},
};

TEST_CASE("blas sgemm_ and dgemm_ report the first bad argument through the program's xerbla_",
          "[blas]") {
  for (const BadCall& bad : bad_fortran_calls) {
    INFO(bad.what);
    std::vector<float> a(64, 1), b(64, 1), c(64, NAN);
    std::vector<double> ad(64, 1), bd(64, 1), cd(64, 2);
    reports().clear();
    fortran_gemm<float>(bad.arguments, 1.0f, a.data(), b.data(), 0.0f, c.data());
    fortran_gemm<double>(bad.arguments, 1.0, ad.data(), bd.data(), 0.0, cd.data());
    REQUIRE(reports().size() == 2);
    CHECK(reports()[0].routine == "SGEMM ");
    CHECK(reports()[1].routine == "DGEMM ");
    CHECK(reports()[0].info == bad.info);
    CHECK(reports()[1].info == bad.info);
    CHECK(std::all_of(c.begin(), c.end(), [](float x) { return std::isnan(x); }));
    CHECK(cd == std::vector<double>(64, 2));
  }
}

struct BadCblasCall {
  const char* what;
  int layout, transa, transb;
  Arguments arguments;  // transa and transb unused
  int info;             // as xerbla_ receives it: the C position less one
};

// A row-major call reaches the Fortran routine as n × m with A and B swapped, so its N is
// reported as the Fortran M, its ldb as LDA, and so on.
const std::vector<BadCblasCall> bad_cblas_calls{
    {"layout", 0, CblasNoTrans, CblasNoTrans, {0, 0, 1, 1, 1, 1, 1, 1}, 0},
    {"layout before transa", 103, 0, CblasNoTrans, {0, 0, 1, 1, 1, 1, 1, 1}, 0},
    {"transa", CblasColMajor, 110, CblasNoTrans, {0, 0, 1, 1, 1, 1, 1, 1}, 1},
    {"transb", CblasColMajor, CblasTrans, 114, {0, 0, 1, 1, 1, 1, 1, 1}, 2},
    {"transa, row-major", CblasRowMajor, -1, CblasNoTrans, {0, 0, 1, 1, 1, 1, 1, 1}, 1},
    {"transb, row-major", CblasRowMajor, CblasNoTrans, 0, {0, 0, 1, 1, 1, 1, 1, 1}, 2},
    {"m", CblasColMajor, CblasNoTrans, CblasNoTrans, {0, 0, -1, 1, 1, 1, 1, 1}, 3},
    {"m, row-major", CblasRowMajor, CblasNoTrans, CblasNoTrans, {0, 0, -1, 1, 1, 1, 1, 1}, 4},
    {"n, row-major", CblasRowMajor, CblasNoTrans, CblasNoTrans, {0, 0, 1, -1, 1, 1, 1, 1}, 3},
    {"k, row-major", CblasRowMajor, CblasNoTrans, CblasNoTrans, {0, 0, 1, 1, -1, 1, 1, 1}, 5},
    {"lda", CblasColMajor, CblasNoTrans, CblasNoTrans, {0, 0, 2, 1, 1, 1, 1, 2}, 8},
    {"lda, row-major", CblasRowMajor, CblasNoTrans, CblasNoTrans, {0, 0, 1, 1, 2, 1, 1, 1}, 10},
    {"ldb, row-major", CblasRowMajor, CblasNoTrans, CblasNoTrans, {0, 0, 1, 2, 1, 1, 1, 2}, 8},
    {"ldc, row-major", CblasRowMajor, CblasNoTrans, CblasNoTrans, {0, 0, 1, 2, 1, 1, 2, 1}, 13},
};

TEST_CASE("blas cblas reports through xerbla_ with the reference CBLAS's numbers", "[blas]") {
  for (const BadCblasCall& bad : bad_cblas_calls) {
    INFO(bad.what);
    std::vector<float> a(8, 1), b(8, 1), c(8, 5);
    reports().clear();
    c_gemm<float>(bad.layout, bad.transa, bad.transb, bad.arguments, 1.0f, a.data(), b.data(), 0.0f,
                  c.data());
    REQUIRE(reports().size() == 1);
    CHECK(reports()[0].routine == "SGEMM ");
    CHECK(reports()[0].info == bad.info);
    CHECK(c == std::vector<float>(8, 5));
  }
}

TEST_CASE("blas conventions: quick returns, alpha 0 and beta 0", "[blas]") {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float a[4] = {1, 2, 3, 4}, b[4] = {1, 0, 0, 1};
  struct Convention {
    const char* what;
    int m, n, k;
    float alpha, beta;
    bool operands;  // false: A and B are null, which must never be read
    std::vector<float> c_before, c_after;
  };
  const std::vector<Convention> conventions{
      {"alpha 0, beta 1 leaves NaN", 2, 2, 2, 0, 1, false, {nan, 1, 2, 3}, {nan, 1, 2, 3}},
      {"k 0, beta 1 leaves NaN", 2, 2, 0, 1, 1, false, {nan, 1, 2, 3}, {nan, 1, 2, 3}},
      {"m 0 touches nothing", 0, 2, 2, 1, 0, false, {nan, 1, 2, 3}, {nan, 1, 2, 3}},
      {"n 0 touches nothing", 2, 0, 2, 1, 0, false, {nan, 1, 2, 3}, {nan, 1, 2, 3}},
      {"alpha 0, beta 0 clears NaN", 2, 2, 2, 0, 0, false, {nan, 1, 2, 3}, {0, 0, 0, 0}},
      {"alpha 0 scales by beta", 2, 2, 2, 0, 2, false, {1, 1, 2, 3}, {2, 2, 4, 6}},
      {"k 0 scales by beta", 2, 2, 0, 3, -1, false, {1, 1, 2, 3}, {-1, -1, -2, -3}},
      {"beta 0 never reads C", 2, 2, 2, 1, 0, true, {nan, nan, nan, nan}, {1, 2, 3, 4}},
      {"beta 1 adds", 2, 2, 2, 1, 1, true, {1, 1, 1, 1}, {2, 3, 4, 5}},
  };
  for (const Convention& x : conventions) {
    INFO(x.what);
    std::vector<float> c = x.c_before;
    c_gemm<float>(CblasColMajor, CblasNoTrans, CblasNoTrans, {0, 0, x.m, x.n, x.k, 2, 2, 2},
                  x.alpha, x.operands ? a : nullptr, x.operands ? b : nullptr, x.beta, c.data());
    REQUIRE(std::memcmp(c.data(), x.c_after.data(), sizeof(float) * 4) == 0);
  }
  REQUIRE(reports().empty());
}

TEST_CASE("blas C overlapping A is refused with C untouched, not a crash", "[blas]") {
  std::vector<float> memory(16, 1);
  const Arguments x{'N', 'N', 2, 2, 2, 2, 2, 2};
  fortran_gemm<float>(x, 1.0f, memory.data(), memory.data() + 8, 0.0f, memory.data() + 2);
  REQUIRE(memory == std::vector<float>(16, 1));
}

TEST_CASE("blas offsets past 2^31 elements are 64-bit", "[blas]") {
  // Aᵀ stored 1 × 3 with leading dimension 2³⁰: its last element lies 2³¹ floats (8 GiB) past its
  // first, beyond a 32-bit int. Address space only: the pages touched are all that is backed.
  const int lda = 1 << 30;
  const std::size_t bytes = (2 * std::size_t(lda) + 1) * sizeof(float);
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (memory == MAP_FAILED) {
    WARN("8 GiB of address space unavailable: not checked");
    return;
  }
  float* a = static_cast<float*>(memory);
  a[0] = 3;
  a[std::size_t(lda)] = 5;
  a[2 * std::size_t(lda)] = 7;
  const float b = 2;
  float c[3] = {NAN, NAN, NAN};
  fortran_gemm<float>({'T', 'N', 3, 1, 1, lda, 1, 3}, 1.0f, a, &b, 0.0f, c);
  munmap(memory, bytes);
  REQUIRE(c[0] == 6);
  REQUIRE(c[1] == 10);
  REQUIRE(c[2] == 14);
}

TEST_CASE("blas threads: the count set is the count got, below 1 the default again", "[blas]") {
  const int initial = zum_blas_get_num_threads();
  REQUIRE(initial >= 1);
  for (const auto& [set, got] :
       {std::pair{3, 3}, {1, 1}, {0, initial}, {7, 7}, {-4, initial}, {1 << 30, 4096}}) {
    zum_blas_set_num_threads(set);
    CHECK(zum_blas_get_num_threads() == got);
  }
  zum_blas_set_num_threads(0);
}

TEST_CASE("blas threads give bit-identical results for any count", "[blas][threads]") {
  std::mt19937 random(3);
  const Matrix<double> a(300, 257, 301, random), b(257, 190, 260, random);
  const Matrix<double> c_before(300, 190, 300, random);
  std::vector<double> one_thread;
  for (const int threads : {1, 2, 3, 8}) {
    zum_blas_set_num_threads(threads);
    std::vector<double> c = c_before.values;
    fortran_gemm<double>({'N', 'N', 300, 190, 257, 301, 260, 300}, 0.5, a.values.data(),
                         b.values.data(), 1.5, c.data());
    if (threads == 1) one_thread = c;
    INFO(threads << " threads");
    REQUIRE(c == one_thread);
  }
  zum_blas_set_num_threads(0);
}

}  // namespace

"""NumPy's float32 and float64 products through the preloaded libzum_blas: against a long
double product within the library's error bound, for C- and Fortran-ordered arrays, transposed
views and sliced arrays, and into an output full of NaN."""
import ctypes
import sys

try:
    import numpy as np
except ImportError:
    print("skipped: NumPy is not installed (Debian: python3-numpy)")
    sys.exit(77)


def check(a, b, out=None):
    c = np.matmul(a, b, out=out) if out is not None else a @ b
    exact = a.astype(np.longdouble) @ b.astype(np.longdouble)
    magnitude = np.abs(a).astype(np.longdouble) @ np.abs(b).astype(np.longdouble)
    epsilon = np.finfo(a.dtype).eps
    bound = (a.shape[1] + 2) * np.longdouble(epsilon) * magnitude
    error = np.abs(c.astype(np.longdouble) - exact)
    if not np.all(error <= bound):
        worst = np.unravel_index(np.argmax(error - bound), error.shape)
        raise AssertionError(f"{a.dtype} {a.shape} x {b.shape}: error {error[worst]} "
                             f"above the bound {bound[worst]} at {worst}")


def operands(random, dtype, m, n, k):
    a = random.uniform(-1, 1, (m, k)).astype(dtype)
    b = random.uniform(-1, 1, (k, n)).astype(dtype)
    return a, b


def main():
    library = ctypes.CDLL("libzum_blas.so.0")
    if "libzum_blas" not in open("/proc/self/maps").read():
        raise AssertionError("libzum_blas is not loaded: run with LD_PRELOAD")
    random = np.random.default_rng(5)
    checked = 0
    for dtype in (np.float32, np.float64):
        for m, n, k in ((1, 1, 1), (7, 33, 65), (100, 300, 77), (257, 129, 64), (16, 1024, 40)):
            a, b = operands(random, dtype, m, n, k)
            check(a, b)
            check(np.asfortranarray(a), np.asfortranarray(b))
            check(np.ascontiguousarray(a.T).T, b)          # a transposed view
            check(a, np.asfortranarray(b).T.T)
            wide_a, wide_b = operands(random, dtype, m + 3, n + 5, k + 4)
            check(wide_a[1:m + 1, 2:k + 2], wide_b[3:k + 3, 1:n + 1])  # sliced: ld > columns
            out = np.full((m, n), np.nan, dtype=dtype)
            check(a, b, out=out)
            if np.isnan(out).any():
                raise AssertionError("NaN already in the output reached the product")
            checked += 6
    library.zum_blas_set_num_threads(1)
    check(*operands(random, np.float32, 300, 200, 100))
    print(f"numpy {np.__version__}: {checked + 1} products checked within the error bound")


main()

! A Fortran program calling SGEMM and DGEMM, linked with gfortran ... -lzum_blas.
program client
  implicit none
  real :: a(2, 3), b(3, 2), c(2, 2)
  double precision :: x(2, 2), y(2, 2)
  a = reshape([1., 2., 3., 4., 5., 6.], [2, 3])
  b = reshape([1., 0., 2., 0., 1., 0.], [3, 2])
  c = -1
  call sgemm('N', 'N', 2, 2, 3, 1.0, a, 2, b, 3, 0.0, c, 2)
  print '(a, 4f6.1)', 'fortran sgemm', c
  x = reshape([1d0, 3d0, 2d0, 4d0], [2, 2])
  y = 1
  call dgemm('n', 't', 2, 2, 2, 1d0, x, 2, x, 2, 1d0, y, 2)
  print '(a, 4f6.1)', 'fortran dgemm', y
end program client

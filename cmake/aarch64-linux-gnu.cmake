# Cross-compiling for 64-bit Arm Linux with Debian's g++-aarch64-linux-gnu; the tests run under
# qemu-user. Proves the library builds and passes its unit tests off x86-64, on the generic path.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
# Header-only test libraries of the build machine (Catch2) are found after the target's own
# system headers, never before them.
set(CMAKE_CXX_FLAGS_INIT "-idirafter /usr/include")

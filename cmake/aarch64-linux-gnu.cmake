# Cross build for aarch64-linux-gnu with Debian's cross compiler and multiarch libraries;
# the tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# The target's own multiarch runtime (libc6, libstdc++6 and libasound2 for the
# architecture) under /: the cross toolchain's private libc copy crashes qemu-user
# as soon as a program starts a thread.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /)
# pkg-config reads the target's multiarch .pc files (libebur128), not the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)

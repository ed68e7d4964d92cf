# Cross build for arm-linux-gnueabihf with Debian's cross compiler and multiarch libraries;
# the tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
# The target's own multiarch runtime (libc6, libstdc++6 and libasound2 for the
# architecture) under /: the cross toolchain's private libc copy crashes qemu-user
# as soon as a program starts a thread.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /)
# pkg-config reads the target's multiarch .pc files (libebur128), not the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)

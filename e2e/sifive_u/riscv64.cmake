# SPDX-License-Identifier: MIT
# Cross-compiles for 64-bit RISC-V Linux with Debian's riscv64-linux-gnu
# toolchain; libraries and headers come from the cross sysroot only: Debian
# 12 has no riscv64 packages, so none of the optional device libraries
# (libftdi1, libusb) is there to find.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(triplet riscv64-linux-gnu)
set(CMAKE_C_COMPILER ${triplet}-gcc)
set(CMAKE_CXX_COMPILER ${triplet}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${triplet})
set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# No pkg-config module of the host's may stand in for a riscv64 one.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${triplet}/pkgconfig)

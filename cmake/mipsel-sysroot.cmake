# Cross build for 32-bit little-endian MIPS with Debian's mipsel cross compiler and a private
# sysroot of extracted mipsel packages (scripts/mipsel-build.sh makes it). Nothing mipsel is
# installed on the host.

# try_compile re-reads this file without the -D value: carry it in the environment.
if(DEFINED MIPSEL_SYSROOT)
  set(ENV{MIPSEL_SYSROOT} "${MIPSEL_SYSROOT}")
else()
  set(MIPSEL_SYSROOT "$ENV{MIPSEL_SYSROOT}")
endif()
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE mipsel-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${MIPSEL_SYSROOT} /usr/mipsel-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(_rl "${MIPSEL_SYSROOT}/usr/lib/mipsel-linux-gnu:${MIPSEL_SYSROOT}/lib/mipsel-linux-gnu")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_rl}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_rl}")
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${MIPSEL_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR}
    ${MIPSEL_SYSROOT}/usr/lib/mipsel-linux-gnu/pkgconfig:${MIPSEL_SYSROOT}/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mipsel;-L;${MIPSEL_SYSROOT})

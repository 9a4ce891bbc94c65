# Toolchain: Linux on 32-bit x86 (gcc -m32, Debian's multilib packages). This machine's kernel
# runs no 32-bit programs, so everything built here that runs, at build time or in tests, goes
# through qemu-i386 (CMAKE_CROSSCOMPILING_EMULATOR).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
# The 32-bit libraries: zlib from lib32z1-dev in /usr/lib32, ICU from Debian's i386
# packages (multiarch) in /usr/lib/i386-linux-gnu. Nothing of the 64-bit ones.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_LIBRARY_PATH /usr/lib32 /usr/lib/i386-linux-gnu)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu /usr/include/x86_64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
find_program(ZARPO_QEMU_I386 qemu-i386 REQUIRED)
# -L /: the i386 libraries are in the host's own /usr/lib32 and /lib. LeakSanitizer cannot stop
# the threads of a program under qemu-user (its clone fails and the program spins at its exit),
# so it is off here: set in the real environment, since the sanitizers read their options from
# /proc/self/environ, which qemu's -E does not change. AddressSanitizer and
# UndefinedBehaviorSanitizer work.
find_program(ZARPO_ENV env REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${ZARPO_ENV};ASAN_OPTIONS=detect_leaks=0;${ZARPO_QEMU_I386};-L;/")

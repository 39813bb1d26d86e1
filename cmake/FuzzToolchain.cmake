# Fuzz targets: clang for i686 Linux user space, because libFuzzer and the
# i386 sanitizer runtimes come with clang's runtime library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")

set(QEL_PROBE_COMPILER clang)
include("${CMAKE_CURRENT_LIST_DIR}/I386Emulator.cmake")

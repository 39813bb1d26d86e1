# Firmware image: freestanding i686 code in COFF objects, linked by lld-link
# into a PE32 image. CMake only compiles here; the link is a custom command.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)

set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_AR llvm-ar)
set(CMAKE_RANLIB llvm-ranlib)
set(CMAKE_C_FLAGS_INIT "--target=i686-unknown-windows-msvc")
set(CMAKE_CXX_FLAGS_INIT "--target=i686-unknown-windows-msvc")

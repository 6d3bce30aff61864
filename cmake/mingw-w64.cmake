# Cross-compiles for 64-bit Windows with clang 16 and lld 16 (MinGW target),
# so that every binary gets a PDB that WinDbg and Visual Studio read. The
# headers and import libraries are mingw-w64's, the C++ runtime is GCC's
# libstdc++ of the posix thread model (the win32 model lacks std::mutex,
# which GoogleTest needs), linked in statically as with GCC.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   clang-16)
set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_C_COMPILER_TARGET   ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_AR      llvm-ar-16)
set(CMAKE_RANLIB  llvm-ranlib-16)
set(CMAKE_OBJCOPY llvm-objcopy-16)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)

# clang looks for GCC's files in a folder named by a version number; Debian
# names it 12-posix, which clang does not take for one. So the GCC driver of
# the posix thread model says where its libraries lie, and clang gets the C++
# headers and that folder (libstdc++, libgcc, the unwinder) from here.
# scripts/third-party-parts.sh asks the same driver which files those are.
set(TZR_RUNTIME_GCC ${TOOLCHAIN_PREFIX}-g++-posix)
execute_process(COMMAND ${TZR_RUNTIME_GCC} -print-libgcc-file-name
                OUTPUT_VARIABLE tzr_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE tzr_rc)
if(NOT tzr_rc EQUAL 0 OR NOT EXISTS "${tzr_libgcc}")
  message(FATAL_ERROR "${TZR_RUNTIME_GCC} does not name its libgcc.a: install g++-mingw-w64-x86-64-posix (scripts/bootstrap.sh)")
endif()
get_filename_component(tzr_gcc_dir "${tzr_libgcc}" DIRECTORY)
set(tzr_cxx_include "${tzr_gcc_dir}/include/c++")
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${tzr_cxx_include} -isystem ${tzr_cxx_include}/${TOOLCHAIN_PREFIX} -isystem ${tzr_cxx_include}/backward")
# lld 16 by its full name: Debian's ld.lld is lld 14. -pthread links
# winpthread, which libstdc++'s threads use.
set(TZR_LINKER /usr/bin/ld.lld-16)
# The project's own targets search mended copies of GCC's C++ runtime before
# this folder (CMakeLists.txt, where TZR_GCC_LIB_DIR is used).
set(TZR_GCC_LIB_DIR "${tzr_gcc_dir}")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld --ld-path=${TZR_LINKER} -L${tzr_gcc_dir} -pthread")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

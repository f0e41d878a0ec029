# The host builds: the installer's logic on the stand-in of the Win32 functions, and the test suite.
#   default                 host tests, and the whole suite registered with CTest
#   CLIPINDEX_SANITIZE=ON   the host tests again, under AddressSanitizer and UndefinedBehaviorSanitizer
#   CLIPINDEX_FUZZ=ON       the libFuzzer target only (configure with clang++)
# The presets build the first two as Debug, unoptimised with debug info: their tests build in a third of
# the time that -O3 takes, and a sanitizer's report names lines. What is shipped is the Windows build.
option(CLIPINDEX_SANITIZE "build the host tests with ASan and UBSan" OFF)
option(CLIPINDEX_FUZZ "build the libFuzzer target of the argument scan" OFF)
enable_testing()
# How the tests start Python: with the shared package, cliptools, importable.
set(CLIPINDEX_PYTHON ${PROJECT_SOURCE_DIR}/scripts/python)

# A test whose tool is missing here: configuring goes on, and the test skips, saying which tool and how to
# get it (./test, which installs every tool, fails on the skip).
function(add_skipped_test name tool package)
  set(said "SKIP: ${tool} is not installed (Debian package ${package}; scripts/setup installs it)")
  add_test(NAME ${name} COMMAND sh -c "echo '${said}'; exit 77")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()

if(CLIPINDEX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

add_library(win32_standin STATIC platform/host/win32_standin.cpp)
target_compile_options(win32_standin PRIVATE ${PROJECT_WARNINGS})
target_include_directories(win32_standin PUBLIC platform/host)

if(CLIPINDEX_FUZZ)
  set(FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
  add_executable(arguments_fuzz tests/fuzz/arguments_fuzz.cpp src/arguments.cpp)
  target_include_directories(arguments_fuzz PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(arguments_fuzz PRIVATE ${PROJECT_WARNINGS} ${FUZZ_FLAGS} -g)
  target_compile_options(win32_standin PRIVATE ${FUZZ_FLAGS})
  target_link_options(arguments_fuzz PRIVATE ${FUZZ_FLAGS})
  target_link_libraries(arguments_fuzz PRIVATE win32_standin)
  return()
endif()

add_library(clipindex_product STATIC ${PRODUCT_SOURCES})
target_compile_options(clipindex_product PRIVATE ${PROJECT_WARNINGS} ${PRODUCT_CHARSET})
target_link_libraries(clipindex_product PUBLIC win32_standin)

find_package(GTest)
if(GTest_FOUND)
  add_subdirectory(tests/host)
else()
  add_skipped_test(host.tests GoogleTest libgtest-dev)
  set_tests_properties(host.tests PROPERTIES LABELS host)
endif()
if(CLIPINDEX_SANITIZE)
  return()
endif()

# The other builds, for the tests that check or run what they made.
set(CLIPINDEX_WIN32_DIR "${CMAKE_BINARY_DIR}/../win32" CACHE PATH "build folder of the 32-bit clipindex.exe")
set(CLIPINDEX_WIN64_DIR "${CMAKE_BINARY_DIR}/../win64" CACHE PATH "build folder of the 64-bit clipindex.exe")
set(CLIPINDEX_SANITIZE_DIR "${CMAKE_BINARY_DIR}/../host-sanitize" CACHE PATH "build folder with CLIPINDEX_SANITIZE")
set(CLIPINDEX_FUZZ_DIR "${CMAKE_BINARY_DIR}/../fuzz" CACHE PATH "build folder with CLIPINDEX_FUZZ")
# Five seconds, half a million inputs or more, reach all the coverage that a minute does (the last new
# input comes in the first second); ./fuzz 600 is the long run.
set(CLIPINDEX_FUZZ_SECONDS 5 CACHE STRING "how long the fuzz test runs")

add_subdirectory(tests/exe)
add_subdirectory(tests/browser)
add_subdirectory(tests/wine)
add_subdirectory(tests/road)

# The host tests again: under the sanitizers, and once under valgrind.
find_program(VALGRIND valgrind)
if(NOT TARGET host_tests)
  add_skipped_test(host.sanitizers GoogleTest libgtest-dev)
  add_skipped_test(host.valgrind GoogleTest libgtest-dev)
else()
  add_test(NAME host.sanitizers COMMAND ${CLIPINDEX_SANITIZE_DIR}/tests/host/host_tests --gtest_brief=1)
  if(VALGRIND)
    add_test(NAME host.valgrind
      COMMAND ${VALGRIND} --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite
              $<TARGET_FILE:host_tests> --gtest_brief=1)
  else()
    add_skipped_test(host.valgrind valgrind valgrind)
  endif()
endif()
set_tests_properties(host.sanitizers host.valgrind PROPERTIES LABELS sanitize)

find_program(CLANGXX clang++)
if(CLANGXX)
  add_test(NAME fuzz.arguments
    COMMAND ${PROJECT_SOURCE_DIR}/tests/fuzz/run ${CLIPINDEX_FUZZ_DIR}/arguments_fuzz ${CLIPINDEX_FUZZ_SECONDS})
else()
  add_skipped_test(fuzz.arguments "clang++, which builds the fuzzer," clang)
endif()
set_tests_properties(fuzz.arguments PROPERTIES LABELS fuzz TIMEOUT 600)

# clang-format, clang-tidy and cppcheck over the project's own C++; it skips where one is missing.
add_test(NAME lint COMMAND ${PROJECT_SOURCE_DIR}/scripts/lint ${CMAKE_BINARY_DIR} ${CLIPINDEX_WIN64_DIR})
set_tests_properties(lint PROPERTIES LABELS lint SKIP_RETURN_CODE 77)

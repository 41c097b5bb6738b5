# The Windows build's tests, run under Wine by scripts/test-windows.sh: the suites that need
# neither the POSIX harness of tests/support (scripted server, real-server launchers) nor
# fork(). GoogleTest is built from the sources Debian's libgtest-dev ships.
enable_testing()
set(FTPC_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${FTPC_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Suite -> test files (relative to tests/SUITE).
set(FTPC_WINDOWS_TESTS_global ByteHelpersTest EncodingTest HelperRobustnessTest StreamHelperTest
  FileStreamTest)
set(FTPC_WINDOWS_TESTS_hash HashVectorsTest HashStreamTest HashFastPathTest OTPCalculatorTest)
set(FTPC_WINDOWS_TESTS_core BufferTest ComponentTest ReplyModelTest ReplyParseTest
  ReplyRobustnessTest ThreadSafeTest InterceptTest AntiFreezeTest)
set(FTPC_WINDOWS_TESTS_stack IPAddressTest)
set(FTPC_WINDOWS_TESTS_server SimpleServerTest)
set(FTPC_WINDOWS_TESTS_proxy TransparentProxyTest)
set(FTPC_WINDOWS_TESTS_platform PlatformTest)
set(FTPC_WINDOWS_TESTS_examples CliPlatformTest)
# These compare the system's error texts with Linux's; Windows words them its own way.
set(FTPC_WINDOWS_TEST_FILTER_global
  --gtest_filter=-FileStreamTest.RefusedOpensNameTheFullPathAndTheSystemReason:FileStreamTest.RelativeNamesAreReportedAsFullPaths)
set(FTPC_WINDOWS_TEST_SUITES global hash core stack server proxy platform examples)

add_library(ftpc_testmain STATIC ${CMAKE_SOURCE_DIR}/tests/support/TestMain.cpp)
target_link_libraries(ftpc_testmain PUBLIC ftpc gtest gmock)
target_include_directories(ftpc_testmain PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)

foreach(suite IN LISTS FTPC_WINDOWS_TEST_SUITES)
  set(sources)
  foreach(test IN LISTS FTPC_WINDOWS_TESTS_${suite})
    list(APPEND sources ${CMAKE_SOURCE_DIR}/tests/${suite}/${test}.cpp)
  endforeach()
  add_executable(test_${suite} ${sources})
  target_link_libraries(test_${suite} PRIVATE ftpc_testmain)
  # The runner (Wine) is the cross-compiling emulator; one CTest entry per executable keeps
  # Wine start-ups few.
  add_test(NAME ${suite} COMMAND test_${suite} ${FTPC_WINDOWS_TEST_FILTER_${suite}})
  set_tests_properties(${suite} PROPERTIES LABELS ${suite} TIMEOUT 600)
endforeach()
target_link_libraries(test_examples PRIVATE ftpc_cli)

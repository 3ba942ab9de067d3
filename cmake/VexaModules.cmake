# Warning flags for the project's own code.
set(VEXA_WARNINGS -Wall -Wextra -Werror -Werror=deprecated-declarations)

# vexa_module(NAME DEPS ...): a static library vexa_NAME from every .cpp in
# Src/NAME. A unit without sources yet defines no target.
function(vexa_module name)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  if(NOT sources)
    return()
  endif()
  set(deps)
  foreach(dep ${ARGN})
    if(TARGET ${dep} OR NOT dep MATCHES "^vexa_")
      list(APPEND deps ${dep})
    endif()
  endforeach()
  add_library(vexa_${name} STATIC ${sources})
  target_include_directories(vexa_${name} PUBLIC ${PROJECT_SOURCE_DIR}/Src)
  target_compile_options(vexa_${name} PRIVATE ${VEXA_WARNINGS})
  target_link_libraries(vexa_${name} PUBLIC ${deps} PkgConfig::FFMPEG Threads::Threads)
  set_property(GLOBAL APPEND PROPERTY VEXA_MODULES vexa_${name})
endfunction()

# vexa_test(NAME LIBS ...): one GoogleTest executable test_NAME from every .cpp
# in tests/NAME, registered with CTest. Skipped while tests/NAME is empty.
function(vexa_test name)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources})
  target_compile_options(test_${name} PRIVATE ${VEXA_WARNINGS})
  target_include_directories(test_${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(test_${name} PRIVATE ${ARGN} GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND test_${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 900
    ENVIRONMENT "VEXA_TEST_DATA=${CMAKE_CURRENT_SOURCE_DIR}/data")
endfunction()

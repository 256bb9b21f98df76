# Helpers shared by every CMakeLists of the project.

# ulmora_test(NAME SOURCES ... LIBS ... [WIDGETS]) - one GoogleTest executable, one ctest entry
# per test case (gtest_discover_tests). WIDGETS gives it a QApplication and runs it under
# the offscreen Qt platform.
function(ulmora_test name)
  cmake_parse_arguments(T "WIDGETS" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_WIDGETS)
    target_link_libraries(${name} PRIVATE ${T_LIBS} ulmora_qt_test_main GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin)
  set(env "")
  if(T_WIDGETS)
    # Qt wants a private runtime directory; without one it warns on every run.
    set(runtime ${CMAKE_BINARY_DIR}/xdg-runtime)
    file(MAKE_DIRECTORY ${runtime})
    file(CHMOD ${runtime} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    set(env "QT_QPA_PLATFORM=offscreen;XDG_RUNTIME_DIR=${runtime}")
  endif()
  gtest_discover_tests(${name} PROPERTIES ENVIRONMENT "${env}" DISCOVERY_TIMEOUT 60)
endfunction()

# ulmora_module(NAME SOURCES...) - a shared library loaded at run time through dlopen.
function(ulmora_module name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${name} PRIVATE -Wl,-z,defs)
endfunction()

# ulmora_add_subfolders() - adds every subfolder of the current folder that has
# a CMakeLists.txt, so that a new plugin, tool, test or benchmark folder needs
# no edit elsewhere.
function(ulmora_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# Shared build settings of the Tersolv targets.

# Warnings, standard and sanitizers for one target of ours.
function(tersolv_target_options target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(CMAKE_POSITION_INDEPENDENT_CODE)
    # Position-independent code for the Python module, still inlined as an
    # executable's would be (no symbol of ours is meant to be interposed);
    # calls into the maths library go through its address table directly.
    target_compile_options(${target} PRIVATE -fno-semantic-interposition -fno-plt)
  endif()
  if(TERSOLV_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(TERSOLV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# tersolv_headers(<target> <INTERFACE|PUBLIC>)
# The headers of the calling folder, included as "<folder>/<header>.h" (the
# folder's path below src/). Each library has an include folder of its own
# in the build tree, holding links to its headers only: a target sees the
# headers of the libraries it links and no others, so a stray include fails
# to build. A header added to the folder is picked up by the next build.
function(tersolv_headers target scope)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root}/${folder})
  foreach(header IN LISTS headers)
    get_filename_component(name ${header} NAME)
    file(CREATE_LINK ${header} ${root}/${folder}/${name} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# tersolv_library(NAME <name> SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
# One library per folder of src/, exported as tersolv::<name>; a folder of
# headers only gives an interface library.
function(tersolv_library)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  if(NOT ARG_SOURCES)
    add_library(tersolv_${ARG_NAME} INTERFACE)
    add_library(tersolv::${ARG_NAME} ALIAS tersolv_${ARG_NAME})
    tersolv_headers(tersolv_${ARG_NAME} INTERFACE)
    target_link_libraries(tersolv_${ARG_NAME} INTERFACE ${ARG_PUBLIC_DEPS})
    target_compile_features(tersolv_${ARG_NAME} INTERFACE cxx_std_20)
    return()
  endif()
  add_library(tersolv_${ARG_NAME} ${ARG_SOURCES})
  add_library(tersolv::${ARG_NAME} ALIAS tersolv_${ARG_NAME})
  tersolv_headers(tersolv_${ARG_NAME} PUBLIC)
  target_link_libraries(tersolv_${ARG_NAME} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  tersolv_target_options(tersolv_${ARG_NAME})
endfunction()

# tersolv_test(NAME <name> SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable, its tests registered with CTest one by one.
function(tersolv_test)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${ARG_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  tersolv_target_options(${ARG_NAME})
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  gtest_discover_tests(${ARG_NAME}
    PROPERTIES LABELS "${ARG_LABELS}"
    DISCOVERY_TIMEOUT 60)
endfunction()

# tersolv_bench(NAME <name> SOURCES ... LIBS ...)
function(tersolv_bench)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} benchmark::benchmark benchmark::benchmark_main)
  tersolv_target_options(${ARG_NAME})
endfunction()

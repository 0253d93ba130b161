# One static library per layer. A layer links only the layers below it, so a call into a
# layer above fails to link (the per-layer test executables link nothing else).
set(VELK_LAYERS "")

function(velk_layer name)
  cmake_parse_arguments(L "" "" "DEPS;LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  if(sources)
    # Compiled once: the objects go into the layer's static library (for tests and the
    # layering check) and into the shared product library.
    add_library(velk_${name}_objects OBJECT ${sources})
    target_include_directories(velk_${name}_objects PUBLIC
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>)
    target_compile_definitions(velk_${name}_objects PRIVATE VELK_BUILDING_LIBRARY)
    add_library(velk_${name} STATIC $<TARGET_OBJECTS:velk_${name}_objects>)
    target_include_directories(velk_${name} PUBLIC
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>)
    target_link_libraries(velk_${name} PUBLIC ${L_DEPS} ${L_LIBS})
    set_property(GLOBAL APPEND PROPERTY VELK_LAYER_TARGETS velk_${name})
    set_property(GLOBAL APPEND PROPERTY VELK_LAYER_OBJECTS $<TARGET_OBJECTS:velk_${name}_objects>)
  else()
    add_library(velk_${name} INTERFACE)
    target_include_directories(velk_${name} INTERFACE
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>)
    target_link_libraries(velk_${name} INTERFACE ${L_DEPS})
  endif()
endfunction()

# Test executable of one folder under tests/, linking the given layer libraries.
function(velk_test_dir dir)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  string(REPLACE "/" "_" tname "test_${dir}")
  add_executable(${tname} ${sources})
  target_link_libraries(${tname} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${tname} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${tname} PRIVATE
    VELK_MIBS_DIR="${VELK_MIBS_DIR}"
    VELK_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VELK_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${tname} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

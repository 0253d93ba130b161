# EXTRA_FLAGS carries the sanitizer flags of a sanitized build to the consumer.
# Installs the built library into a scratch prefix, then configures, builds and runs a small
# consumer against it twice: through find_package(VelkSnmp) and through pkg-config.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${WORK_DIR}/prefix
  RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "install failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package/consumer -B ${WORK_DIR}/build
  -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_BUILD_TYPE=Release
  "-DCMAKE_CXX_FLAGS=${EXTRA_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_FLAGS}" RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "consumer configure failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "consumer build failed")
endif()
execute_process(COMMAND ${WORK_DIR}/build/consumer RESULT_VARIABLE rc OUTPUT_VARIABLE out)
message("${out}")
if(rc)
  message(FATAL_ERROR "consumer (CMake package) failed: ${rc}")
endif()
# pkg-config route
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  file(GLOB pcdir ${WORK_DIR}/prefix/lib*/pkgconfig ${WORK_DIR}/prefix/lib/*/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "${pcdir}")
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs velksnmp OUTPUT_VARIABLE flags
    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "pkg-config cannot find velksnmp")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  file(GLOB libdir ${WORK_DIR}/prefix/lib*)
  separate_arguments(extra UNIX_COMMAND "${EXTRA_FLAGS}")
  execute_process(COMMAND c++ ${extra} ${SOURCE_DIR}/tests/package/consumer/main.cpp ${flags}
    -Wl,-rpath,${libdir} -o ${WORK_DIR}/consumer-pc RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "pkg-config consumer build failed")
  endif()
  execute_process(COMMAND ${WORK_DIR}/consumer-pc RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "consumer (pkg-config) failed: ${rc}")
  endif()
endif()

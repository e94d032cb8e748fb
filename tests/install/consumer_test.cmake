# Installs the build into a staging folder, then configures, builds and runs a small project that
# finds the library there with find_package(voduzazi). Run by CTest with -P.
foreach(variable BUILD_DIR STAGE_DIR CONSUMER_DIR GENERATOR CXX_COMPILER)
  if(NOT ${variable})
    message(FATAL_ERROR "consumer test: ${variable} is not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "consumer test: `${command}` failed (${result})")
  endif()
endfunction()

file(REMOVE_RECURSE ${STAGE_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${STAGE_DIR}/prefix)

set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=${SANITIZE}")
endif()
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${STAGE_DIR}/consumer -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    -DCMAKE_PREFIX_PATH=${STAGE_DIR}/prefix -DCMAKE_CXX_FLAGS=${flags}
    -DCMAKE_EXE_LINKER_FLAGS=${flags})
run(${CMAKE_COMMAND} --build ${STAGE_DIR}/consumer)
file(MAKE_DIRECTORY ${STAGE_DIR}/data)
run(${CMAKE_COMMAND} -E env XDG_DATA_HOME=${STAGE_DIR}/data ${STAGE_DIR}/consumer/consumer)

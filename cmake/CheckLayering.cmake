# Run by the layering test: builds every layering probe (each includes a header of a room
# its own room may not reach) and checks that each one failed for exactly that reason.
string(REPLACE "," ";" targets "${TARGETS}")
string(REPLACE "," ";" expect "${EXPECT}")
execute_process(
  COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} -j 2 --target ${targets} -- ${KEEP_GOING}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
set(log "${out}${err}")
set(failures 0)
foreach(pair ${expect})
  string(REPLACE "|" ";" parts "${pair}")
  list(GET parts 0 probe)
  list(GET parts 1 header)
  string(REPLACE "." "\\." probe_re "${probe}")
  string(REPLACE "." "\\." header_re "${header}")
  # GCC: "x.cpp:1:10: fatal error: kqutility/a/B.h: No such file or directory"
  # clang: "x.cpp:1:10: fatal error: 'kqutility/a/B.h' file not found"
  if(NOT log MATCHES "${probe_re}:[0-9]+:[0-9]+: fatal error: '?${header_re}'?(: No such file| file not found)")
    message(SEND_ERROR "${probe}: including ${header} did not fail as not found")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
list(LENGTH expect count)
if(failures)
  message(FATAL_ERROR "${failures} of ${count} forbidden includes were not refused. Build output:\n${log}")
endif()
message(STATUS "All ${count} includes of rooms above or beside the including room were refused")

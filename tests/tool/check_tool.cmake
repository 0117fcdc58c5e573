# Runs the command-line tool once and checks its exit code and output; used
# where no shell is at hand, for the Windows .exe under the emulator.
#
#   cmake -DTOOL=path -DEMULATOR="a|b" -DCASE=name -P check_tool.cmake
#
# EMULATOR is the emulator command with its words joined by "|" (empty for
# none).
string(REPLACE "|" ";" emulator "${EMULATOR}")

function(run_tool)
  execute_process(COMMAND ${emulator} ${TOOL} ${ARGN}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  set(status "${status}" PARENT_SCOPE)
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

function(expect what condition_text)
  message(FATAL_ERROR "${what}: ${condition_text}\nexit: ${status}\nstdout:\n${out}\nstderr:\n${err}")
endfunction()

if(CASE STREQUAL "interfaces_json")
  # The report is a JSON array of adapter objects, each with its five keys.
  run_tool(interfaces --json)
  if(NOT status EQUAL 0)
    expect("interfaces --json" "non-zero exit")
  endif()
  string(JSON type ERROR_VARIABLE json_error TYPE "${out}")
  if(json_error OR NOT type STREQUAL "ARRAY")
    expect("interfaces --json" "not a JSON array: ${json_error}")
  endif()
  string(JSON count LENGTH "${out}")
  if(count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
      foreach(key ip name gateway up loopback)
        string(JSON value ERROR_VARIABLE json_error GET "${out}" ${i} ${key})
        if(json_error)
          expect("interfaces --json" "adapter ${i} has no ${key}")
        endif()
      endforeach()
    endforeach()
  endif()
elseif(CASE STREQUAL "bad_argument")
  # A bad argument: usage and the library's own message on stderr, exit 2.
  run_tool(announce --hostname kit.chen)
  if(NOT status EQUAL 2)
    expect("announce --hostname kit.chen" "exit is not 2")
  endif()
  foreach(text "Hostname label cannot contain dots (provide label without .local)"
               "usage: tandrelo-mdns")
    string(FIND "${err}" "${text}" at)
    if(at EQUAL -1)
      expect("announce --hostname kit.chen" "no '${text}' on stderr")
    endif()
  endforeach()
elseif(CASE STREQUAL "announce_seconds")
  # Announces for a second on a port of its own and stops by itself.
  run_tool(announce --port 25381 --hostname wintool --service _http._tcp Web 8080 path=/ --seconds 1)
  if(NOT status EQUAL 0)
    expect("announce --seconds 1" "non-zero exit")
  endif()
  foreach(text "announcing on UDP port 25381" "host     wintool.local -> "
               "service  Web._http._tcp.local  port 8080  txt path=/" "stopped: queries ")
    string(FIND "${out}" "${text}" at)
    if(at EQUAL -1)
      expect("announce --seconds 1" "no '${text}' on stdout")
    endif()
  endforeach()
else()
  message(FATAL_ERROR "check_tool.cmake: unknown CASE '${CASE}'")
endif()

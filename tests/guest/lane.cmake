# Read by CTest (TEST_INCLUDE_FILES of the 32-bit tree's Wine test folder)
# before the folder's tests are declared: every test, whoever added it and
# however, then runs as `tests/guest/lane --test NAME COMMAND...`, and the
# lane decides where its command really runs (see tests/guest/lane).
# `ctest -N -V` shows the wrapped commands.
include_guard(GLOBAL)

set(MSILAUNCH_LANE "${CMAKE_CURRENT_LIST_DIR}/lane")

# Replaces CTest's add_test (kept as _add_test). The call is rebuilt as code
# with bracket arguments, so that empty arguments and arguments holding ";"
# reach the test unchanged.
function(add_test name)
  set(call "_add_test([=====[${name}]=====] [=====[${MSILAUNCH_LANE}]=====] --test [=====[${name}]=====]")
  math(EXPR last "${ARGC} - 1")
  foreach(i RANGE 1 ${last})
    string(APPEND call " [=====[${ARGV${i}}]=====]")
  endforeach()
  cmake_language(EVAL CODE "${call})")
endfunction()

# Installs the build into a fresh prefix and checks that the bundle tool and
# the launcher land where the installed tool looks for the launcher.
#   cmake -DBUILD=<build dir> -DPREFIX=<scratch prefix> -P CheckInstall.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
foreach(file bin/kovalu-bundle libexec/kovalu/applauncher)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "cmake --install wrote no ${file}")
  endif()
endforeach()
# Without --launcher the tool takes the installed one: a run that gets past
# the launcher stops at the missing --name instead.
execute_process(COMMAND "${PREFIX}/bin/kovalu-bundle" --runtime "${PREFIX}"
                ERROR_VARIABLE err OUTPUT_QUIET)
if(NOT err STREQUAL "kovalu-bundle: missing --name\n")
  message(FATAL_ERROR "the installed tool did not find its launcher: ${err}")
endif()
file(REMOVE_RECURSE "${PREFIX}")

# Checks that EXECUTABLE exports each name of EXPORTS as a defined function and,
# on ELF, that none of the launcher's own C++ code is exported besides them.
# Usage: cmake -DNM=<nm> -DEXECUTABLE=<file> -DEXPORTS=<a;b> [-DMACHO=ON] -P CheckExports.cmake

if(NOT NM OR NOT EXISTS "${NM}")
  message("SKIPPED: no nm to read the dynamic symbol table with")
  return()
endif()

if(MACHO)
  set(nm_args -gU)
  set(prefix "_")
else()
  set(nm_args -D --defined-only)
  set(prefix "")
endif()

execute_process(COMMAND "${NM}" ${nm_args} "${EXECUTABLE}"
                RESULT_VARIABLE nm_result
                OUTPUT_VARIABLE nm_output
                ERROR_VARIABLE nm_error)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${EXECUTABLE}: ${nm_error}")
endif()

string(REPLACE "\n" ";" nm_lines "${nm_output}")
set(exported_code)
foreach(line IN LISTS nm_lines)
  if(line MATCHES "^[0-9a-fA-F]* *[Tt] (.+)$")
    list(APPEND exported_code "${CMAKE_MATCH_1}")
  endif()
endforeach()

set(missing)
foreach(name IN LISTS EXPORTS)
  list(FIND exported_code "${prefix}${name}" index)
  if(index EQUAL -1)
    list(APPEND missing "${name}")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "${EXECUTABLE} does not export: ${missing}\nnm output:\n${nm_output}")
endif()

if(NOT MACHO)
  set(leaked)
  foreach(name IN LISTS exported_code)
    if(name MATCHES "(AppLauncher|PackageFile|CfgFile|Jvm|JliLaunchData|tstrings|FileUtils|SysInfo|Logger|Dll)")
      list(FIND EXPORTS "${name}" index)
      if(index EQUAL -1)
        list(APPEND leaked "${name}")
      endif()
    endif()
  endforeach()
  if(leaked)
    message(FATAL_ERROR "${EXECUTABLE} exports more than its entry points: ${leaked}")
  endif()
endif()

message("${EXECUTABLE} exports: ${EXPORTS}")

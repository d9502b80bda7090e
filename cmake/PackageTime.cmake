# Read by cpack as it makes each package: the time of the last commit for
# every file in it, unless the caller set one (SOURCE_DATE_EPOCH, as Debian's
# reproducible builds do). Outside a Git checkout, the time of the source's
# CMakeLists.txt: the same for every build of that source.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${CPACK_KVO_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE kvo_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE kvo_git ERROR_QUIET)
  if(NOT kvo_git EQUAL 0 OR NOT kvo_epoch)
    file(TIMESTAMP "${CPACK_KVO_SOURCE_DIR}/CMakeLists.txt" kvo_epoch "%s" UTC)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${kvo_epoch}")
endif()

# Read by cpack as it makes each package: the time of the last commit for
# every file in it, unless the caller set one (SOURCE_DATE_EPOCH, as Debian's
# reproducible builds do). Outside a Git checkout the files keep their own.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${CPACK_KVO_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE kvo_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE kvo_git ERROR_QUIET)
  if(kvo_git EQUAL 0 AND kvo_epoch)
    set(ENV{SOURCE_DATE_EPOCH} "${kvo_epoch}")
  endif()
endif()

# The page's folder as a ZIP: its files in the order of their names, each
# with the last commit's time, so that two builds of one commit give the
# same bytes.
#   cmake -DSITE=folder -DSOURCE=source-folder -DZIP=file -P package.cmake
set(CPACK_KVO_SOURCE_DIR ${SOURCE})
include(${SOURCE}/cmake/PackageTime.cmake)
file(GLOB files RELATIVE ${SITE} ${SITE}/*)
list(SORT files)
get_filename_component(folder ${ZIP} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
file(REMOVE ${ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip ${files}
                WORKING_DIRECTORY ${SITE} COMMAND_ERROR_IS_FATAL ANY)

# The page as the browser tests have it: the same site, with the hooks of
# tests/hooks.js put where app.js marks their place.
#   cmake -DSITE=... -DOUT=... -DHOOKS=... -P test-build.cmake
file(REMOVE_RECURSE ${OUT})
file(COPY ${SITE}/ DESTINATION ${OUT})
file(READ ${SITE}/app.js app)
file(READ ${HOOKS} hooks)
string(FIND "${app}" "// @test-hooks@" at)
if(at EQUAL -1)
  message(FATAL_ERROR "app.js has no place for the test build's hooks")
endif()
string(REPLACE "// @test-hooks@\n" "${hooks}" app "${app}")
file(WRITE ${OUT}/app.js "${app}")

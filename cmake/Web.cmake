# The browser version, built beside the desktop one where Debian's
# emscripten, Node and Chromium are installed (tools/install-deps --web), and
# its tests in this build's suite: the core against the command line under
# Node, and the page in Chromium.
find_program(KVO_EMCMAKE emcmake)
find_program(KVO_NODE node)
find_program(KVO_NPM npm)
find_program(KVO_CHROMIUM chromium)
if(NOT KVO_EMCMAKE OR NOT KVO_NODE OR NOT KVO_NPM OR NOT KVO_CHROMIUM)
  message(STATUS "The browser version and its tests are left out: tools/install-deps --web installs "
                 "what they need")
  return()
endif()

set(web_source ${PROJECT_SOURCE_DIR}/web)
set(web_build ${CMAKE_BINARY_DIR}/web)
set(web_site ${web_build}/web/site)
# Debian's Node does not look in Debian's own folder of Node modules, where
# emscripten's optimizer finds acorn.
set(node_path NODE_PATH=/usr/share/nodejs)

# The page's ZIP writer and the tests' browser driver, as the lock file pins them.
add_custom_command(OUTPUT ${web_source}/node_modules/.package-lock.json
                   COMMAND ${KVO_NPM} ci --prefix ${web_source} --no-audit --no-fund
                   DEPENDS ${web_source}/package.json ${web_source}/package-lock.json)
add_custom_target(kvo-web ALL
  COMMAND ${CMAKE_COMMAND} -E env ${node_path} ${KVO_EMCMAKE} ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR}
          -B ${web_build} -G Ninja -DCMAKE_BUILD_TYPE=Release -DKVO_WERROR=${KVO_WERROR}
          > ${web_build}-configure.log
  COMMAND ${CMAKE_COMMAND} -E env ${node_path} ${CMAKE_COMMAND} --build ${web_build}
  DEPENDS ${web_source}/node_modules/.package-lock.json
  USES_TERMINAL)

# The folder as a ZIP, among the packages.
add_custom_target(web-package
  COMMAND ${CMAKE_COMMAND} -E env ${node_path} ${CMAKE_COMMAND} --build ${web_build} --target web-package
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packages
  COMMAND ${CMAKE_COMMAND} -E copy ${web_build}/packages/kvo-umsetzer-${PROJECT_VERSION}-web.zip
          ${CMAKE_BINARY_DIR}/packages/
  DEPENDS kvo-web)

if(KVO_BUILD_TESTS)
  add_test(NAME Web.TheCoreConvertsAsTheDesktopToolDoes
           COMMAND ${KVO_NODE} ${web_source}/tests/same-bytes.js ${web_site}
                   $<TARGET_FILE:kvo-umsetzer-cli> $<TARGET_FILE:kvo-gen>)
  add_test(NAME Web.ThePageInChromium
           COMMAND ${KVO_NODE} ${web_source}/tests/page.js ${web_build}/web/site-test
                   $<TARGET_FILE:kvo-umsetzer-cli> $<TARGET_FILE:kvo-gen>
                   ${PROJECT_SOURCE_DIR}/tests/scenarios.txt)
  add_test(NAME Web.TheSavePathInFirefox
           COMMAND ${KVO_NODE} ${web_source}/tests/firefox.js ${web_site}
                   $<TARGET_FILE:kvo-umsetzer-cli> $<TARGET_FILE:kvo-gen>)
  set_tests_properties(Web.TheCoreConvertsAsTheDesktopToolDoes Web.ThePageInChromium
                       Web.TheSavePathInFirefox
                       PROPERTIES TIMEOUT 600 ENVIRONMENT "KVO_CHROMIUM=${KVO_CHROMIUM}"
                                  SKIP_RETURN_CODE 77)
endif()

# The bench view (orvane-cli --serve): its sources, the page compiled in, and
# the two header-only libraries it builds on, in every flavour.
#
# cpp-httplib: the single header of Debian's source package (scripts/setup
# puts it in ORVANE_HTTPLIB_DIR); nlohmann/json: Debian's nlohmann-json3-dev.
# Both are copied into the build folder so that the Windows flavours see them
# without the rest of /usr/include.
set(ORVANE_HTTPLIB_DIR /usr/local/src/cpp-httplib CACHE PATH "cpp-httplib's single header (scripts/setup)")
if(NOT EXISTS ${ORVANE_HTTPLIB_DIR}/httplib.h)
  message(FATAL_ERROR "no httplib.h in ${ORVANE_HTTPLIB_DIR}: run scripts/setup")
endif()
if(NOT EXISTS /usr/include/nlohmann/json.hpp)
  message(FATAL_ERROR "no nlohmann/json.hpp: run scripts/setup")
endif()
set(ORVANE_SERVE_INCLUDE ${CMAKE_BINARY_DIR}/third_party)
configure_file(${ORVANE_HTTPLIB_DIR}/httplib.h ${ORVANE_SERVE_INCLUDE}/httplib.h COPYONLY)
file(COPY /usr/include/nlohmann DESTINATION ${ORVANE_SERVE_INCLUDE})

set(ORVANE_SERVE_DIR ${CMAKE_SOURCE_DIR}/orvane/cli/serve)
# path=Content-Type=file, for each file of the page (text is UTF-8).
set(ORVANE_PAGE_FILES
  "/=text/html=${ORVANE_SERVE_DIR}/page/index.html"
  "/bench.css=text/css=${ORVANE_SERVE_DIR}/page/bench.css"
  "/bench.js=text/javascript=${ORVANE_SERVE_DIR}/page/bench.js"
  "/favicon.ico=image/svg+xml=${ORVANE_SERVE_DIR}/page/favicon.svg")
set(page_inputs "")
foreach(entry IN LISTS ORVANE_PAGE_FILES)
  string(REGEX REPLACE "^.*=" "" file "${entry}")
  list(APPEND page_inputs ${file})
endforeach()
string(REPLACE ";" "|" page_files "${ORVANE_PAGE_FILES}")
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/generated/page_files.cpp
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${CMAKE_BINARY_DIR}/generated/page_files.cpp "-DFILES=${page_files}"
          -P ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
  DEPENDS ${page_inputs} ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
  COMMENT "Compiling in the bench view's page"
  VERBATIM)

set(ORVANE_SERVE_SOURCES
  ${ORVANE_SERVE_DIR}/bench.cpp
  ${ORVANE_SERVE_DIR}/server.cpp
  ${ORVANE_SERVE_DIR}/serve.cpp
  ${CMAKE_BINARY_DIR}/generated/page_files.cpp)

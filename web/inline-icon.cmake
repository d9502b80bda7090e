# Writes OUT from IN with @KVO_ICON@ replaced by the icon SVG as a data:
# address: the browser asks for the page's icon after it has loaded, and
# the page makes no request then.
#   cmake -DIN=... -DOUT=... -DSVG=... -P inline-icon.cmake
file(READ ${SVG} svg)
string(REGEX REPLACE "<\\?xml[^>]*>" "" svg "${svg}")
string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" svg "${svg}")
string(REGEX REPLACE "[\r\n ]+" " " svg "${svg}")
string(STRIP "${svg}" svg)
string(REPLACE "\"" "'" svg "${svg}")
string(REPLACE "%" "%25" svg "${svg}")
string(REPLACE "#" "%23" svg "${svg}")
string(REPLACE "<" "%3C" svg "${svg}")
string(REPLACE ">" "%3E" svg "${svg}")
set(KVO_ICON "data:image/svg+xml,${svg}")
configure_file(${IN} ${OUT} @ONLY)

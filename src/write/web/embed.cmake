# Writes OUTPUT, a C++ source that holds each of the page's files as a
# NUL-terminated char array, from ASSETS, NAME=FILE pairs joined by "|":
#   cmake -DOUTPUT=web_assets.cpp "-DASSETS=pageTemplate=page.html|..." -P embed.cmake
# The bytes go in as numbers, so no text in the files can end the literal.
set(text "// Written at build time by src/write/web/embed.cmake from the files beside it.\n")
string(APPEND text "#include \"write/web_assets.h\"\n")
string(REPLACE "|" ";" ASSETS "${ASSETS}")
foreach(asset IN LISTS ASSETS)
    string(REPLACE "=" ";" pair "${asset}")
    list(GET pair 0 name)
    list(GET pair 1 file)
    file(READ "${file}" hex HEX)
    # The page is read as windows-1252: its own files must be ASCII to read
    # the same there.
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\1," bytes "${hex}")
    if(bytes MATCHES "(^|,)[89a-f]")
        message(FATAL_ERROR "${file} holds a byte outside ASCII")
    endif()
    string(REGEX REPLACE "([0-9a-f][0-9a-f]),"  "0x\\1," bytes "${bytes}")
    string(APPEND text "\nconst char ${name}[] = {${bytes}0};\n")
endforeach()
file(WRITE "${OUTPUT}" "${text}")

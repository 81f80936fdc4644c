# Runs at install time: writes the launcher with Exec and TryExec naming the installed executable
# by its full path. Expects VORN_DESKTOP_SOURCE, VORN_DESKTOP_NAME, VORN_APPLICATIONS_DIR and
# VORN_EXECUTABLE (the last two relative to the install prefix unless absolute).

foreach(var VORN_APPLICATIONS_DIR VORN_EXECUTABLE)
    if(NOT IS_ABSOLUTE "${${var}}")
        set(${var} "${CMAKE_INSTALL_PREFIX}/${${var}}")
    endif()
endforeach()

# The path as an Exec argument: quoted when it holds a character the launcher's command line
# reserves, with ", `, $ and \ escaped inside the quotes and % doubled.
set(exec "${VORN_EXECUTABLE}")
string(REPLACE "%" "%%" exec "${exec}")
if(exec MATCHES "[] \t\n\"'\\\\><~|&;$*?#()`[]")
    string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" exec "${exec}")
    set(exec "\"${exec}\"")
endif()
# Both values are strings of the entry file, whose own escape is the backslash.
string(REPLACE "\\" "\\\\" exec "${exec}")
string(REPLACE "\\" "\\\\" tryExec "${VORN_EXECUTABLE}")

file(READ "${VORN_DESKTOP_SOURCE}" entry)
string(REPLACE "\nExec=vorn " "\nExec=${exec} " entry "${entry}")
string(REPLACE "\nTryExec=vorn\n" "\nTryExec=${tryExec}\n" entry "${entry}")

set(target "${VORN_APPLICATIONS_DIR}/${VORN_DESKTOP_NAME}")
message(STATUS "Installing: $ENV{DESTDIR}${target}")
file(WRITE "$ENV{DESTDIR}${target}" "${entry}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${target}")

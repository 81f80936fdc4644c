# Run as a script: fails when a source under DIR includes a Qt header.
# The portable core must build and run without any window system.
file(GLOB_RECURSE sources "${DIR}/*.h" "${DIR}/*.cpp")
foreach(source IN LISTS sources)
    file(STRINGS "${source}" hits REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](Q[A-Za-z]|qt)")
    if(hits)
        message(FATAL_ERROR "${source} includes a Qt header; core/ must stay free of Qt: ${hits}")
    endif()
endforeach()

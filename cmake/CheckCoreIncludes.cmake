# Run as a script: fails when a source under DIR (one library of core/) includes a header of ours
# from outside the core folders listed in ALLOWED, the library's own and those it links. So the
# direction between the core's libraries, and the core's independence of the rest of the program,
# hold by construction rather than by review.
cmake_minimum_required(VERSION 3.25)
file(GLOB_RECURSE sources "${DIR}/*.h" "${DIR}/*.cpp")
set(ours "core|components|forms|app|cli|bench|tests")
foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"(${ours})/")
    foreach(line IN LISTS includes)
        string(REGEX MATCH "\"([a-z]+)/([a-z_]+)/" path "${line}")
        set(top "${CMAKE_MATCH_1}")
        set(folder "${CMAKE_MATCH_2}")
        if(NOT top STREQUAL "core" OR NOT folder IN_LIST ALLOWED)
            message(FATAL_ERROR
                    "${source}: ${line} runs against the core's direction; this library may "
                    "include core/{${ALLOWED}} only")
        endif()
    endforeach()
endforeach()

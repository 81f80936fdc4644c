# Compiler options shared by every target of the project.
add_library(vorn_options INTERFACE)
target_compile_options(vorn_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                              -Woverloaded-virtual)
# GCC 12 at -O3 warns of overlapping copies inside std::string's own operator+ (a known false
# alarm of its -Wrestrict), which would stop the optimised build on code that is correct.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(vorn_options INTERFACE -Wno-restrict)
endif()
if(VORN_WERROR)
    target_compile_options(vorn_options INTERFACE -Werror)
endif()
if(VORN_SANITIZE)
    target_compile_options(vorn_options INTERFACE -fsanitize=address,undefined
                                                  -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(vorn_options INTERFACE -fsanitize=address,undefined)
endif()

# Compiler options shared by every target of the project.
add_library(vorn_options INTERFACE)
target_compile_options(vorn_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                              -Woverloaded-virtual)
if(VORN_WERROR)
    target_compile_options(vorn_options INTERFACE -Werror)
endif()
if(VORN_SANITIZE)
    target_compile_options(vorn_options INTERFACE -fsanitize=address,undefined
                                                  -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(vorn_options INTERFACE -fsanitize=address,undefined)
endif()

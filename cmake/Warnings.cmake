# Warning flags for the project's own targets; third-party headers are system includes.
add_library(orca_warnings INTERFACE)
target_compile_options(orca_warnings INTERFACE -Wall -Wextra -Werror -Wshadow -Wnon-virtual-dtor
                                               -Wformat=2)

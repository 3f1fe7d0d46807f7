# Every target of the project builds with warnings as errors.
add_library(kx7_warnings INTERFACE)
target_compile_options(kx7_warnings INTERFACE
  -Wall -Wextra -Werror -Wshadow -Wcast-align -Wunused -Wpedantic
  -Wno-unknown-pragmas)

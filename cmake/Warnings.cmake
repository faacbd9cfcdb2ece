# Warnings are errors for the project's own code; third-party headers come in as SYSTEM.
add_library(launcher_warnings INTERFACE)
target_compile_options(launcher_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wunused -Woverloaded-virtual
  -Wformat=2 -Werror)
target_include_directories(launcher_warnings INTERFACE ${PROJECT_SOURCE_DIR})

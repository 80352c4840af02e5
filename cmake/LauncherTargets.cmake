# Common compile settings every target of the project links.
add_library(launcher_common INTERFACE)
target_compile_features(launcher_common INTERFACE cxx_std_17)
target_compile_options(launcher_common INTERFACE -Wall -Wextra)
target_compile_definitions(launcher_common INTERFACE
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_DEPRECATED_WARNINGS
    QT_MESSAGELOGCONTEXT)
target_include_directories(launcher_common INTERFACE ${PROJECT_SOURCE_DIR}/src)
set(CMAKE_CXX_EXTENSIONS OFF)

# launcher_library(<name> <folder> [LIBS ...]): a static library made of every
# source below <folder>, so adding a class never needs a CMake edit.
function(launcher_library name folder)
    cmake_parse_arguments(ARG "" "" "LIBS;EXCLUDE" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS
        ${folder}/*.cpp ${folder}/*.h)
    foreach(pattern IN LISTS ARG_EXCLUDE)
        list(FILTER sources EXCLUDE REGEX "${pattern}")
    endforeach()
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC launcher_common ${ARG_LIBS})
endfunction()

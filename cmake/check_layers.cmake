# cmake -DROOT=<dir> -P check_layers.cmake
# Fails when a file under ROOT/src includes a header of a layer it may not use:
#   os <- network <- engine, files <- ui, cli
# engine and files do not include each other, nor do ui and cli.
cmake_minimum_required(VERSION 3.20)
if(NOT ROOT)
    message(FATAL_ERROR "ROOT is not set")
endif()

set(allowed_os os)
set(allowed_network os network)
set(allowed_engine os network engine)
set(allowed_files os network files)
set(allowed_ui os network engine files ui)
set(allowed_cli os network engine files cli)
set(layers os network engine files ui cli)

set(violations "")
foreach(layer ${layers})
    file(GLOB_RECURSE sources LIST_DIRECTORIES false
        ${ROOT}/src/${layer}/*.h ${ROOT}/src/${layer}/*.hpp ${ROOT}/src/${layer}/*.cpp)
    foreach(source ${sources})
        file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][a-z]+/")
        foreach(line ${includes})
            string(REGEX MATCH "[\"<]([a-z]+)/" _ "${line}")
            set(used ${CMAKE_MATCH_1})
            if(used IN_LIST layers AND NOT used IN_LIST allowed_${layer})
                file(RELATIVE_PATH shown ${ROOT} ${source})
                string(STRIP "${line}" line)
                string(REPLACE ";" " " may "${allowed_${layer}}")
                list(APPEND violations "${shown}: ${line} (${layer} may use: ${may})")
            endif()
        endforeach()
    endforeach()
endforeach()

foreach(violation ${violations})
    message("${violation}")
endforeach()
if(violations)
    message(FATAL_ERROR "Includes across the layers")
endif()

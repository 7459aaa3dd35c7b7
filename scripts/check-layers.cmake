cmake_minimum_required(VERSION 3.25)
# Checks that every #include "folder/..." in the library layers points to the
# file's own folder or to a layer below it, so that no layer depends on one
# above it or beside it. Run as: cmake -DSOURCE_DIR=<repo> -P check-layers.cmake
#
# Layers, lowest first; folders of the same rank sit side by side and must not
# include each other.
set(layers report device chipdb i2c "operations diagnostics" frontend "cli app")
# Folders beside the layers that no library layer may include; the front ends
# and their shared set-up may use the virtual converter for the demo mode.
set(outside sim tools tests bench fuzz)
set(front_ends frontend cli app)

set(rank 0)
foreach(entry IN LISTS layers)
  string(REPLACE " " ";" folders "${entry}")
  foreach(folder IN LISTS folders)
    set(rank_of_${folder} ${rank})
  endforeach()
  math(EXPR rank "${rank} + 1")
endforeach()

set(violations "")
set(edges "")
foreach(entry IN LISTS layers)
  string(REPLACE " " ";" folders "${entry}")
  foreach(folder IN LISTS folders)
    file(GLOB_RECURSE sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
    foreach(source IN LISTS sources)
      get_filename_component(source_name "${source}" NAME)
      file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"/]+/")
      foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"/]+)/.*" "\\1" target "${line}")
        if(target STREQUAL folder)
          # Inside a folder: remember the edge, to find two files that include
          # each other.
          string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" header "${line}")
          string(REGEX REPLACE "\\.(h|cpp)$" "" from "${folder}/${source_name}")
          string(REGEX REPLACE "\\.(h|cpp)$" "" to "${header}")
          if(NOT from STREQUAL to)
            list(APPEND edges "${from}>${to}")
          endif()
          continue()
        endif()
        file(RELATIVE_PATH where "${SOURCE_DIR}" "${source}")
        if(target IN_LIST outside AND NOT (target STREQUAL "sim" AND folder IN_LIST front_ends))
          string(APPEND violations "  ${where}: includes ${target}/, which no layer may use\n")
        elseif(DEFINED rank_of_${target})
          if(NOT rank_of_${target} LESS rank_of_${folder})
            string(APPEND violations "  ${where}: includes ${target}/, which is not below ${folder}/\n")
          endif()
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()

foreach(edge IN LISTS edges)
  string(REPLACE ">" ";" ends "${edge}")
  list(GET ends 0 from)
  list(GET ends 1 to)
  if("${to}>${from}" IN_LIST edges AND from STRLESS to)
    string(APPEND violations "  ${from} and ${to} include each other\n")
  endif()
endforeach()

if(violations)
  message(FATAL_ERROR "Includes that run against the layers:\n${violations}")
endif()
message(STATUS "Layers: every include runs downwards")

# edu_library(NAME DEPENDS dep...) builds one static library from every
# .cpp/.h in the calling folder (subfolders excluded).
function(edu_library name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(NOT sources MATCHES "\\.cpp")
    # A folder that holds no code yet still gives a target to link against.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPENDS})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
endfunction()

# edu_program(NAME SOURCES src... DEPENDS dep...) builds one program into the
# program folder.
function(edu_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS})
endfunction()

# edu_pictures(TARGET GLOB) copies the pictures matching GLOB (a pattern in
# assets/, e.g. "school_*.png") into the program folder's assets folder, as
# part of TARGET (made ALL).
function(edu_pictures target pattern)
  file(GLOB pictures CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/assets/${pattern})
  set(copies)
  foreach(source ${pictures})
    get_filename_component(name ${source} NAME)
    set(copy ${EDU_PROGRAM_DIR}/assets/${name})
    add_custom_command(OUTPUT ${copy} COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${copy}
                       DEPENDS ${source} VERBATIM)
    list(APPEND copies ${copy})
  endforeach()
  add_custom_target(${target} ALL DEPENDS ${copies})
endfunction()

# edu_program_file(TARGET FILE) copies FILE (a path in the calling folder,
# such as a settings sample) into the program folder as part of TARGET (made
# ALL).
function(edu_program_file target file)
  get_filename_component(name ${file} NAME)
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  set(copy ${EDU_PROGRAM_DIR}/${name})
  add_custom_command(OUTPUT ${copy} COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${copy}
                     DEPENDS ${source} VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${copy})
endfunction()

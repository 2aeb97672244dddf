# The library graph check (ctest library_graph): configures the source tree
# afresh into WORK with `cmake --graphviz` and fails when one of the base
# targets reaches, through any chain of links, a GUI target: Qt's Gui or
# Widgets module, X11 or the window-system services (platform_gui). The base
# targets are the libraries that hold no GUI, the tools that need no display
# and the test programs of those libraries.
#
#   cmake -DSOURCE=<tree> -DWORK=<folder> -P check_library_graph.cmake
cmake_minimum_required(VERSION 3.25)

set(base_targets platform sys replies server store state diskid edu-admin edu-login devserver
                 edu_test_core_main)
# A base library's test programs (unit_sys_test_split_items); those of a
# sub-library such as platform_gui (unit_platform_gui_test_...) are not.
set(base_test_pattern "^(unit|integration)_(platform|sys|replies|server|store|state)_test_")
set(gui_pattern "^(Qt6::Gui|Qt6::Widgets|Qt6::OpenGL|X11::.*|platform_gui)$")

file(MAKE_DIRECTORY ${WORK})
# One graph file, without the per-target ones.
file(WRITE ${WORK}/CMakeGraphVizOptions.cmake
     "set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)\nset(GRAPHVIZ_GENERATE_DEPENDERS FALSE)\n")
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK} --graphviz=${WORK}/graph.dot
                RESULT_VARIABLE configured OUTPUT_QUIET ERROR_VARIABLE configure_errors)
if(NOT configured EQUAL 0)
  message(FATAL_ERROR "configuring ${SOURCE} for its graph failed:\n${configure_errors}")
endif()

# Nodes: "node3" [ label = "platform", shape = octagon ]; edges: "node3" ->
# "node7". An edge to a program (shape egg) is a build-order dependency
# (add_dependencies): nothing links a program, so the walk leaves it out.
file(STRINGS ${WORK}/graph.dot lines)
set(nodes)
set(programs)
foreach(line IN LISTS lines)
  if(line MATCHES "^ *\"(node[0-9]+)\" \\[ label = \"([^\"]+)\", shape = ([a-z]+)")
    set(label_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
    set(node_of_${CMAKE_MATCH_2} ${CMAKE_MATCH_1})
    list(APPEND nodes ${CMAKE_MATCH_1})
    if(CMAKE_MATCH_3 STREQUAL "egg")
      list(APPEND programs ${CMAKE_MATCH_1})
    endif()
  elseif(line MATCHES "^ *\"(node[0-9]+)\" -> \"(node[0-9]+)\"")
    list(APPEND edges_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
  endif()
endforeach()

set(starts)
foreach(name IN LISTS base_targets)
  if(NOT DEFINED node_of_${name})
    message(FATAL_ERROR "the graph has no target ${name}: update the list in ${CMAKE_CURRENT_LIST_FILE}")
  endif()
  list(APPEND starts ${node_of_${name}})
endforeach()
set(base_tests 0)
foreach(node IN LISTS nodes)
  if(label_${node} MATCHES "${base_test_pattern}")
    list(APPEND starts ${node})
    math(EXPR base_tests "${base_tests} + 1")
  endif()
endforeach()
if(base_tests EQUAL 0)
  message(FATAL_ERROR "the graph has no test program of a base library")
endif()

# Walks the links from each start; a GUI node reached is a fault, named
# with the chain that leads to it.
set(faults)
foreach(start IN LISTS starts)
  set(seen ${start})
  set(queue ${start})
  set(path_${start} "${label_${start}}")
  while(queue)
    list(POP_FRONT queue node)
    foreach(next IN LISTS edges_${node})
      if(next IN_LIST seen OR next IN_LIST programs)
        continue()
      endif()
      list(APPEND seen ${next})
      set(path_${next} "${path_${node}} -> ${label_${next}}")
      if(label_${next} MATCHES "${gui_pattern}")
        list(APPEND faults "${path_${next}}")
      else()
        list(APPEND queue ${next})
      endif()
    endforeach()
  endwhile()
endforeach()

if(faults)
  list(JOIN faults "\n  " listed)
  message(FATAL_ERROR "base targets that reach the GUI:\n  ${listed}")
endif()
list(LENGTH starts checked)
message(STATUS "library graph: ${checked} base targets, none reaches Qt Gui, Qt Widgets or X11")

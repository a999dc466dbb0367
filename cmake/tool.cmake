# The tool's code in layers, each a static library that may include only its own
# folder and the layers below it:
#   simulation  the particle pool, the frame's settings and the particles' motion
#   render      pictures made from particles: shapes, compositing, blur
#   motiondata  the motion-data file, its recorder and its player
#   operator    the host-facing tool (lumets_tool): inputs, change handling,
#               dialogs and the order of work, owning the parts below
# A lower layer compiles against an include root that holds only the folders it
# may use, so including a higher layer (operator/ above all) fails to build.
set(LUMETS_LAYER_ROOT ${CMAKE_BINARY_DIR}/layers)
foreach(layer simulation render motiondata)
  file(MAKE_DIRECTORY ${LUMETS_LAYER_ROOT}/${layer})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${layer} ${LUMETS_LAYER_ROOT}/${layer}/${layer} SYMBOLIC)
endforeach()

# The control table: plain data that the tool, the command-line host, the frei0r
# filter and the docs generator read.
add_library(lumets_controls STATIC ${CMAKE_SOURCE_DIR}/operator/control_table.cpp)
target_include_directories(lumets_controls PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(lumets_controls PRIVATE ${LUMETS_WARNINGS})
target_link_libraries(lumets_controls PUBLIC lumets_host)

# Makes the four layer libraries: lumets_simulation<suffix>, lumets_render<suffix>,
# lumets_motiondata<suffix> and lumets_tool<suffix> (the operator, which brings the
# others), with extra compile OPTIONS and public DEFINITIONS for all four.
function(lumets_tool_libraries suffix)
  cmake_parse_arguments(ARG "" "" "OPTIONS;DEFINITIONS" ${ARGN})
  foreach(layer simulation render motiondata operator)
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${layer}/*.cpp)
    list(FILTER srcs EXCLUDE REGEX "/operator/(registration|control_table)\\.cpp$")
    if(layer STREQUAL "operator")
      set(lib lumets_tool${suffix})
      add_library(${lib} STATIC ${srcs})
      target_include_directories(${lib} PUBLIC ${CMAKE_SOURCE_DIR})
      target_link_libraries(${lib} PUBLIC lumets_render${suffix} lumets_motiondata${suffix} lumets_controls)
    else()
      set(lib lumets_${layer}${suffix})
      add_library(${lib} STATIC ${srcs})
      target_include_directories(${lib} PUBLIC ${LUMETS_LAYER_ROOT}/${layer})
      if(layer STREQUAL "simulation")
        target_link_libraries(${lib} PUBLIC lumets_host)
      else()
        target_link_libraries(${lib} PUBLIC lumets_simulation${suffix})
      endif()
    endif()
    target_compile_options(${lib} PRIVATE ${LUMETS_WARNINGS} ${ARG_OPTIONS})
    if(ARG_DEFINITIONS)
      target_compile_definitions(${lib} PUBLIC ${ARG_DEFINITIONS})
    endif()
  endforeach()
endfunction()

lumets_tool_libraries("")
set(LUMETS_TOOL_LIBRARIES lumets_simulation lumets_render lumets_motiondata lumets_tool)

# The plug-in module the host loads at run time from its plug-in folder.
add_library(lumets_particles MODULE ${CMAKE_SOURCE_DIR}/operator/registration.cpp
            $<TARGET_OBJECTS:lumets_resources>)
target_compile_options(lumets_particles PRIVATE ${LUMETS_WARNINGS})
target_link_libraries(lumets_particles PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,lumets_tool>" lumets_host)
set_target_properties(lumets_particles PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${LUMETS_PLUGIN_DIR})
# Installed in the library folder's lumets/plugins; the host library is two levels up.
set_target_properties(lumets_particles PROPERTIES INSTALL_RPATH "$ORIGIN/../..")
target_compile_definitions(lumets_particles PRIVATE LUMETS_VERSION="${PROJECT_VERSION}")

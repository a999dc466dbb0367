# The tool's code (operator shell, simulation, rendering, motion data) as a static
# library, linked whole into the plug-in module and directly into the unit tests.
file(GLOB LUMETS_TOOL_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/operator/*.cpp ${CMAKE_SOURCE_DIR}/simulation/*.cpp
     ${CMAKE_SOURCE_DIR}/render/*.cpp ${CMAKE_SOURCE_DIR}/motiondata/*.cpp)
list(FILTER LUMETS_TOOL_SOURCES EXCLUDE REGEX "/operator/(registration|control_table)\\.cpp$")

# The control table: plain data that the tool, the command-line host, the frei0r
# filter and the docs generator read.
add_library(lumets_controls STATIC ${CMAKE_SOURCE_DIR}/operator/control_table.cpp)
target_include_directories(lumets_controls PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(lumets_controls PRIVATE ${LUMETS_WARNINGS})
target_link_libraries(lumets_controls PUBLIC lumets_host)

add_library(lumets_tool STATIC ${LUMETS_TOOL_SOURCES})
target_include_directories(lumets_tool PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(lumets_tool PRIVATE ${LUMETS_WARNINGS})
target_link_libraries(lumets_tool PUBLIC lumets_controls lumets_host)

# The plug-in module the host loads at run time from its plug-in folder.
add_library(lumets_particles MODULE ${CMAKE_SOURCE_DIR}/operator/registration.cpp
            $<TARGET_OBJECTS:lumets_resources>)
target_compile_options(lumets_particles PRIVATE ${LUMETS_WARNINGS})
target_link_libraries(lumets_particles PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,lumets_tool>" lumets_host)
set_target_properties(lumets_particles PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${LUMETS_PLUGIN_DIR})
# Installed in the library folder's lumets/plugins; the host library is two levels up.
set_target_properties(lumets_particles PROPERTIES INSTALL_RPATH "$ORIGIN/../..")
target_compile_definitions(lumets_particles PRIVATE LUMETS_VERSION="${PROJECT_VERSION}")

# Fails when a source file includes a header of a folder that its own folder
# may not use: cmake -DSOURCE_DIR=<project> -P CheckLayers.cmake
#
# Bottom to top: shared; the drivers (driver, testport), which use only
# shared; the base libraries (settings, drawing, window: the window layer
# uses the drawing logic); the subsystems (monitor, capture, ui), whose logic
# uses no window code and whose win/ folders use the window layer but not
# each other; app on top. The resource ids (resources/resource.h, #defines
# only) are open to the capture logic, which hands string-table ids to its
# windows.
cmake_minimum_required(VERSION 3.25)

set(allowed_shared shared)
set(allowed_driver driver shared)
set(allowed_testport testport shared)
set(allowed_settings settings)
set(allowed_drawing drawing)
set(allowed_window window drawing)
set(allowed_monitor monitor shared settings drawing)
set(allowed_capture capture shared settings drawing resources)
set(allowed_ui ui monitor shared settings drawing)
set(allowed_app app capture monitor ui shared settings drawing)
foreach(subsystem monitor capture ui app)
    set(allowed_${subsystem}/win ${subsystem}/win ${allowed_${subsystem}} window resources)
endforeach()
list(APPEND allowed_app/win capture/win monitor/win ui/win)
set(folders shared driver testport testport/demo settings drawing window monitor monitor/win capture capture/win ui ui/win app
            app/win)
set(allowed_testport/demo ${allowed_testport})

# The folder a file belongs to: its top folder, or top/win.
function(folder_of path out)
    string(REGEX MATCH "^[^/]+(/win)?" folder "${path}")
    set(${out} ${folder} PARENT_SCOPE)
endfunction()


# Every header of the product by file name.
set(header_patterns ${SOURCE_DIR}/resources/*.h)
foreach(folder IN LISTS folders)
    list(APPEND header_patterns ${SOURCE_DIR}/${folder}/*.h)
endforeach()
file(GLOB headers RELATIVE ${SOURCE_DIR} ${header_patterns})
foreach(header IN LISTS headers)
    get_filename_component(name ${header} NAME)
    folder_of(${header} folder)
    set(home_${name} ${folder})
endforeach()

set(violations "")
foreach(folder IN LISTS folders)
    file(GLOB sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${folder}/*.cpp ${SOURCE_DIR}/${folder}/*.h)
    foreach(source IN LISTS sources)
        file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^#include \"")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
            get_filename_component(name ${included} NAME)
            if(NOT DEFINED home_${name})
                continue()  # generated, or the platform's
            endif()
            if(NOT home_${name} IN_LIST allowed_${folder})
                string(APPEND violations "  ${source} includes ${included} (${home_${name}})\n")
            endif()
        endforeach()
    endforeach()
endforeach()

if(violations)
    message(FATAL_ERROR "Includes against the layers:\n${violations}")
endif()
message(STATUS "Layers hold")

# vantrel_driver(NAME n SOURCES ... [INCLUDES ...] [DEFINITIONS ...])
# Builds the kernel-mode driver image n.sys with mingw (the function does
# nothing natively, where drivers link into the test programs against the
# simulation). C++ without exceptions, RTTI, the standard library or static
# constructors; native subsystem; entry DriverEntry; base relocations kept so
# that the loader may place the image anywhere.
function(vantrel_driver)
    cmake_parse_arguments(D "" "NAME" "SOURCES;INCLUDES;DEFINITIONS" ${ARGN})
    if(NOT WIN32)
        return()
    endif()
    add_executable(${D_NAME} ${D_SOURCES})
    set_target_properties(${D_NAME} PROPERTIES PREFIX "" SUFFIX ".sys")
    target_include_directories(${D_NAME} SYSTEM PRIVATE ${CMAKE_FIND_ROOT_PATH}/include/ddk)
    target_include_directories(${D_NAME} PRIVATE ${D_INCLUDES})
    target_compile_definitions(${D_NAME} PRIVATE ${D_DEFINITIONS})
    vantrel_warnings(${D_NAME})
    target_compile_options(${D_NAME} PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics -nostdinc++>
        -D__INTRINSIC_DEFINED_InterlockedBitTestAndSet -D__INTRINSIC_DEFINED_InterlockedBitTestAndReset
        -fno-asynchronous-unwind-tables -fno-stack-protector -ffreestanding)
    # On x86 the entry is __stdcall and carries its argument bytes in its
    # name; kernel images there load low, as the DDK's linker places them.
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(entry _DriverEntry@8)
        set(image_base 0x10000)
    else()
        set(entry DriverEntry)
        set(image_base 0x140000000)
    endif()
    target_link_options(${D_NAME} PRIVATE
        -nostdlib -nostartfiles -shared
        -Wl,--subsystem,native -Wl,--entry,${entry}
        -Wl,--dynamicbase -Wl,--nxcompat
        -Wl,--image-base,${image_base} -Wl,--file-alignment,0x200 -Wl,--section-alignment,0x1000)
    # libgcc only for compiler helpers such as the stack probe.
    target_link_libraries(${D_NAME} PRIVATE shared ntoskrnl hal gcc)
    # A driver has no start-up code that would run static constructors.
    add_custom_command(TARGET ${D_NAME} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:${D_NAME}> "-DOBJECTS=$<TARGET_OBJECTS:${D_NAME}>"
                -DOBJDUMP=${CMAKE_OBJDUMP}
                -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/CheckDriverImage.cmake
        VERBATIM)
    # Signed before the program takes it in: the file written at start-up carries the signature.
    vantrel_sign_after_build(${D_NAME})
endfunction()

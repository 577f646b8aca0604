# Compiler settings shared by every target of ours: warnings, Unicode Win32
# definitions and statically linked runtimes, so that the executables import
# system DLLs only.

if(MSVC)
    set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
elseif(MINGW)
    string(APPEND CMAKE_EXE_LINKER_FLAGS " -static")
    string(APPEND CMAKE_SHARED_LINKER_FLAGS " -static")
endif()

function(qel_target_settings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /utf-8 /W4 /permissive-)
        if(QEL_WARNINGS_AS_ERRORS)
            target_compile_options(${target} PRIVATE /WX)
        endif()
    else()
        target_compile_options(${target} PRIVATE
            -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
            -Wcast-qual -Wformat=2 -Wundef -Wold-style-cast)
        if(QEL_WARNINGS_AS_ERRORS)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    endif()
    if(WIN32)
        target_compile_definitions(${target} PRIVATE
            UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
        get_target_property(type ${target} TYPE)
        get_target_property(is_gui ${target} WIN32_EXECUTABLE)
        if(MINGW AND type STREQUAL "EXECUTABLE" AND is_gui)
            # wWinMain is the entry point of the window programs.
            target_link_options(${target} PRIVATE -municode)
        endif()
    endif()
endfunction()

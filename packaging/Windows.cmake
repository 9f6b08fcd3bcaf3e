# The Windows build's program resources (manifest, icon, version) and its installer.
# Included from Packaging.cmake for a Windows build; scripts/windows.sh passes the icon that
# the Linux side draws (TARVEX_WINDOWS_ICON).
set(TARVEX_WINDOWS_ICON "" CACHE FILEPATH "The program's .ico, drawn by the Linux build's tarvex6-icons")

set(TARVEX_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(TARVEX_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)

# The application manifest (packaging/windows/tarvex6.manifest.in), in every Windows build.
function(tarvex_windows_manifest target)
    if(NOT TARGET ${target})
        return()
    endif()
    set(TARVEX_MANIFEST_NAME ${target})
    set(TARVEX_MANIFEST_FILE ${TARVEX_PACKAGING_OUT}/${target}.manifest)
    configure_file(${TARVEX_PACKAGING_DIR}/windows/tarvex6.manifest.in ${TARVEX_MANIFEST_FILE}
                   @ONLY)
    configure_file(${TARVEX_PACKAGING_DIR}/windows/tarvex6-manifest.rc.in
                   ${TARVEX_PACKAGING_OUT}/${target}-manifest.rc @ONLY)
    target_sources(${target} PRIVATE ${TARVEX_PACKAGING_OUT}/${target}-manifest.rc)
    set_property(SOURCE ${TARVEX_PACKAGING_OUT}/${target}-manifest.rc APPEND PROPERTY
                 OBJECT_DEPENDS ${TARVEX_MANIFEST_FILE})
endfunction()

function(tarvex_windows_resources target description)
    if(NOT TARGET ${target})
        return()
    endif()
    set(TARVEX_FILE_DESCRIPTION "${description}")
    set(TARVEX_FILE_NAME ${target}.exe)
    configure_file(${TARVEX_PACKAGING_DIR}/windows/tarvex6-bootloader.rc.in
                   ${TARVEX_PACKAGING_OUT}/${target}.rc @ONLY)
    target_sources(${target} PRIVATE ${TARVEX_PACKAGING_OUT}/${target}.rc)
    set_property(SOURCE ${TARVEX_PACKAGING_OUT}/${target}.rc APPEND PROPERTY OBJECT_DEPENDS
                 ${TARVEX_WINDOWS_ICON})
endfunction()

# The installer: build-win/tarvex6-bootloader-<version>-setup.exe (target tarvex6-setup).
function(tarvex_windows_installer)
    if(NOT TARGET tarvex6-bootloader OR NOT TARGET tarvex6-flash)
        return()
    endif()
    find_program(TARVEX_MAKENSIS makensis)
    if(NOT TARVEX_MAKENSIS)
        return()
    endif()
    set(TARVEX_SETUP_FILE ${CMAKE_BINARY_DIR}/tarvex6-bootloader-${PROJECT_VERSION}-setup.exe)
    # The installer carries the programs without their debugging information.
    set(TARVEX_BOOTLOADER_EXE ${TARVEX_PACKAGING_OUT}/bin/tarvex6-bootloader.exe)
    set(TARVEX_FLASH_EXE ${TARVEX_PACKAGING_OUT}/bin/tarvex6-flash.exe)
    foreach(program tarvex6-bootloader tarvex6-flash)
        add_custom_command(
            OUTPUT ${TARVEX_PACKAGING_OUT}/bin/${program}.exe
            COMMAND ${CMAKE_COMMAND} -E make_directory ${TARVEX_PACKAGING_OUT}/bin
            COMMAND ${CMAKE_STRIP} -o ${TARVEX_PACKAGING_OUT}/bin/${program}.exe
                    $<TARGET_FILE:${program}>
            DEPENDS ${program}
            VERBATIM)
    endforeach()
    configure_file(${TARVEX_PACKAGING_DIR}/windows/installer.nsi.in
                   ${TARVEX_PACKAGING_OUT}/installer.nsi @ONLY)
    add_custom_command(
        OUTPUT ${TARVEX_SETUP_FILE}
        COMMAND ${TARVEX_MAKENSIS} -V2 -INPUTCHARSET UTF8 ${TARVEX_PACKAGING_OUT}/installer.nsi
        # a program to Wine, and to a file manager on the machine that made it
        COMMAND chmod a+x ${TARVEX_SETUP_FILE}
        DEPENDS ${TARVEX_BOOTLOADER_EXE} ${TARVEX_FLASH_EXE} ${TARVEX_PACKAGING_OUT}/installer.nsi
                ${TARVEX_WINDOWS_ICON}
        COMMENT "Making the Windows installer"
        VERBATIM)
    add_custom_target(tarvex6-setup DEPENDS ${TARVEX_SETUP_FILE})
endfunction()

# Once every directory has been read: tarvex6-flash is defined after this file is included.
function(tarvex_windows_packaging)
    # the programs, and the test that reads their manifests under its own
    foreach(target tarvex6-bootloader tarvex6-flash win_manifest_tests)
        tarvex_windows_manifest(${target})
    endforeach()
    if(NOT TARVEX_WINDOWS_ICON)
        return()
    endif()
    tarvex_windows_resources(tarvex6-bootloader "TARVEX-6 Bootloader")
    tarvex_windows_resources(tarvex6-flash "tarvex6-flash: TARVEX-6 command-line flasher")
    tarvex_windows_installer()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL tarvex_windows_packaging)

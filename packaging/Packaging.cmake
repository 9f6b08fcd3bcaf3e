# Installation and the Debian package (cpack -G DEB): the three programs, the desktop entry,
# the icons, the AppStream metainfo and the manual pages.  Included from the top
# CMakeLists.txt; the version is the project's.
if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/Windows.cmake)
    return()
endif()
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    return()
endif()

include(GNUInstallDirs)

set(TARVEX_PACKAGE_NAME tarvex6-bootloader)
set(TARVEX_APP_ID example.vorn.tarvex6_bootloader)
set(TARVEX_MAINTAINER "VORN service <service@vorn.example>")
# The day this version was released: the changelog and the metainfo carry it.
set(TARVEX_RELEASE_DATE 2026-12-10)

set(TARVEX_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(TARVEX_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Installing (and so cpack) takes the programs as built; it does not build the whole tree.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

execute_process(COMMAND date -u -R -d "${TARVEX_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE TARVEX_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)

# Manual pages and the changelog, gzip'ed as Debian wants them (-9, no name or time stamp).
find_program(TARVEX_GZIP gzip REQUIRED)
set(TARVEX_PACKAGING_FILES)
function(tarvex_gzip_configured input output)
    configure_file(${TARVEX_PACKAGING_DIR}/${input} ${TARVEX_PACKAGING_OUT}/${output} @ONLY)
    add_custom_command(
        OUTPUT ${TARVEX_PACKAGING_OUT}/${output}.gz
        COMMAND ${TARVEX_GZIP} -9nkf ${TARVEX_PACKAGING_OUT}/${output}
        DEPENDS ${TARVEX_PACKAGING_OUT}/${output}
        VERBATIM)
    set(TARVEX_PACKAGING_FILES ${TARVEX_PACKAGING_FILES} ${TARVEX_PACKAGING_OUT}/${output}.gz
        PARENT_SCOPE)
endfunction()

foreach(page tarvex6-bootloader tarvex6-flash tarvex6-sim)
    tarvex_gzip_configured(man/${page}.1.in man/${page}.1)
endforeach()
tarvex_gzip_configured(changelog.in changelog)
configure_file(${TARVEX_PACKAGING_DIR}/${TARVEX_APP_ID}.metainfo.xml.in
               ${TARVEX_PACKAGING_OUT}/${TARVEX_APP_ID}.metainfo.xml @ONLY)

# The icon at the desktop's sizes, drawn at build time by the window's own picture code.
set(TARVEX_ICON_SIZES 16 32 48 256)
if(TARGET tarvex6gui)
    add_executable(tarvex6-icons ${TARVEX_PACKAGING_DIR}/RenderIcons.cpp
                                 ${PROJECT_SOURCE_DIR}/src/Main/Gui/Pictures.cpp)
    target_include_directories(tarvex6-icons PRIVATE ${PROJECT_SOURCE_DIR}/src/Main/Gui)
    target_link_libraries(tarvex6-icons PRIVATE Qt6::Gui)
    set(TARVEX_ICON_FILES)
    foreach(size ${TARVEX_ICON_SIZES})
        list(APPEND TARVEX_ICON_FILES
             ${TARVEX_PACKAGING_OUT}/icons/${size}x${size}/apps/${TARVEX_PACKAGE_NAME}.png)
    endforeach()
    add_custom_command(
        OUTPUT ${TARVEX_ICON_FILES}
        COMMAND tarvex6-icons ${TARVEX_PACKAGING_OUT}/icons ${TARVEX_PACKAGE_NAME}
                ${TARVEX_ICON_SIZES}
        DEPENDS tarvex6-icons
        COMMENT "Drawing the program's icon"
        VERBATIM)
    list(APPEND TARVEX_PACKAGING_FILES ${TARVEX_ICON_FILES})
    # The same picture as a Windows icon file, for the Windows build's program and installer
    # (scripts/windows.sh).
    set(TARVEX_WINDOWS_ICON ${TARVEX_PACKAGING_OUT}/${TARVEX_PACKAGE_NAME}.ico)
    add_custom_command(
        OUTPUT ${TARVEX_WINDOWS_ICON}
        COMMAND tarvex6-icons --ico ${TARVEX_WINDOWS_ICON} ${TARVEX_ICON_SIZES}
        DEPENDS tarvex6-icons
        COMMENT "Drawing the program's Windows icon"
        VERBATIM)
    add_custom_target(tarvex6-windows-icon DEPENDS ${TARVEX_WINDOWS_ICON})
endif()
add_custom_target(tarvex6-packaging-files ALL DEPENDS ${TARVEX_PACKAGING_FILES})

# The programs are installed once every directory has been read, so that targets defined
# after this file was included (tarvex6-flash) are packaged too.
function(tarvex_install_programs)
    foreach(program tarvex6-bootloader tarvex6-flash tarvex6-sim)
        if(TARGET ${program})
            install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
            install(FILES ${TARVEX_PACKAGING_OUT}/man/${program}.1.gz
                    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
        endif()
    endforeach()
    if(TARGET tarvex6-bootloader)
        install(FILES ${TARVEX_PACKAGING_DIR}/${TARVEX_APP_ID}.desktop
                DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
        install(FILES ${TARVEX_PACKAGING_OUT}/${TARVEX_APP_ID}.metainfo.xml
                DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
        install(DIRECTORY ${TARVEX_PACKAGING_OUT}/icons/
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
    endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL tarvex_install_programs)

set(TARVEX_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${TARVEX_PACKAGE_NAME})
install(FILES ${TARVEX_PACKAGING_DIR}/copyright DESTINATION ${TARVEX_DOC_DIR})
install(FILES ${TARVEX_PACKAGING_OUT}/changelog.gz DESTINATION ${TARVEX_DOC_DIR})

# The package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TARVEX_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR VORN)
set(CPACK_PACKAGE_CONTACT ${TARVEX_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware flasher for the TARVEX-6 instrument")
# Lines of the extended description stay under 80 columns, as Debian's tools show them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Writes the firmware it carries, or an Intel HEX file, into a TARVEX-6"
    "instrument through the resident bootloader of its microcontroller over a"
    "serial port: it identifies the instrument, refuses a firmware that is not"
    "newer than the installed one, then erases, writes and commits the flash and"
    "restarts the instrument."
    ""
    "The package holds the window program tarvex6-bootloader (Ukrainian), the"
    "command-line flasher tarvex6-flash for scripts and for several instruments"
    "at once, and the instrument simulator tarvex6-sim, which plays the"
    "bootloader on a pseudo-terminal.")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TARVEX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://vorn.example/tarvex6/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)

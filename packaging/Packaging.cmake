# Install rules and the Debian packages: `tarnwell` (the command) and
# `tarnwell-gui` (the wizard). `make deb` configures with CMAKE_INSTALL_PREFIX=/usr
# and runs cpack; packaging/check-deb.sh checks what comes out.

include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(TARNWELL_PACKAGE_VERSION 21.04)
set(packaging ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(generated ${CMAKE_CURRENT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${generated})

# Debian wants a gzipped changelog and a copyright file in each package's doc folder.
add_custom_command(OUTPUT ${generated}/changelog.gz
  COMMAND gzip -9n < ${packaging}/changelog > ${generated}/changelog.gz
  DEPENDS ${packaging}/changelog VERBATIM)

# Manual pages from --help, when help2man is there; packages come from the
# plain build, so the sanitizer and fuzzer builds skip them.
find_program(HELP2MAN help2man)
if(TARNWELL_SANITIZE OR TARNWELL_FUZZ)
  set(HELP2MAN "")
endif()
set(TARNWELL_COMMANDS drives volumes list recover search candidates carve signatures)
set(man_pages)
if(HELP2MAN)
  add_custom_command(OUTPUT ${generated}/tarnwell.1.gz
    COMMAND ${packaging}/man-page.sh $<TARGET_FILE:tarnwell>
            "read-only recovery of files from disks, cards and images" ${generated}/tarnwell.1.gz ${TARNWELL_COMMANDS}
    DEPENDS tarnwell ${packaging}/man-page.sh VERBATIM)
  list(APPEND man_pages ${generated}/tarnwell.1.gz)
  if(TARGET tarnwell-gui)
    add_custom_command(OUTPUT ${generated}/tarnwell-gui.1.gz
      COMMAND ${packaging}/man-page.sh $<TARGET_FILE:tarnwell-gui>
              "the Tarnwell file-recovery wizard" ${generated}/tarnwell-gui.1.gz
      DEPENDS tarnwell-gui ${packaging}/man-page.sh VERBATIM)
    list(APPEND man_pages ${generated}/tarnwell-gui.1.gz)
  endif()
else()
  message(STATUS "No manual pages: help2man is missing, or this is a sanitizer or fuzzer build")
endif()
add_custom_target(packaging-files ALL DEPENDS ${generated}/changelog.gz ${man_pages})

install(TARGETS tarnwell RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
install(FILES ${packaging}/tarnwell.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME tarnwell COMPONENT cli)
install(FILES ${packaging}/copyright ${generated}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnwell
  COMPONENT cli)
if(HELP2MAN)
  install(FILES ${generated}/tarnwell.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
endif()

if(TARGET tarnwell-gui)
  # The desktop entry asks polkit for root, which raw drives need; the action
  # names the wizard by its installed path.
  set(TARNWELL_GUI_PATH ${CMAKE_INSTALL_FULL_BINDIR}/tarnwell-gui)
  file(READ ${CMAKE_CURRENT_SOURCE_DIR}/resources/tarnwell-gui.desktop desktop)
  string(REPLACE "Exec=tarnwell-gui" "Exec=pkexec ${TARNWELL_GUI_PATH}" desktop "${desktop}")
  file(GENERATE OUTPUT ${generated}/tarnwell-gui.desktop CONTENT "${desktop}")
  configure_file(${packaging}/org.tarnwell.gui.policy.in ${generated}/org.tarnwell.gui.policy @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS resources/tarnwell-gui.desktop)

  install(TARGETS tarnwell-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT gui)
  install(FILES ${generated}/tarnwell-gui.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT gui)
  install(FILES resources/tarnwell.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
    COMPONENT gui)
  install(FILES ${generated}/org.tarnwell.gui.policy DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions
    COMPONENT gui)
  install(FILES ${packaging}/copyright ${generated}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnwell-gui
    COMPONENT gui)
  if(HELP2MAN)
    install(FILES ${generated}/tarnwell-gui.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT gui)
  endif()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwell)
set(CPACK_PACKAGE_VERSION ${TARNWELL_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tarnwell developers")
set(CPACK_PACKAGE_CONTACT "Tarnwell developers <tarnwell@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
# GPL-3.0-or-later; the packages carry it in their copyright files.
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
if(TARGET tarnwell-gui)
  list(APPEND CPACK_COMPONENTS_ALL gui)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME tarnwell)
set(CPACK_DEBIAN_GUI_PACKAGE_NAME tarnwell-gui)
set(CPACK_DEBIAN_GUI_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "tarnwell (= ${TARNWELL_PACKAGE_VERSION}), pkexec | policykit-1")
# CPack indents the lines after the first and turns an empty line into " .".
set(CPACK_COMPONENT_CLI_DESCRIPTION "read-only file recovery from disks, cards and images
Tarnwell finds the volumes of a disk or image, decodes NTFS, FAT12/16/32,
exFAT, ext2/3/4 and HFS+ from the raw sectors, lists live and deleted files,
carves files by signature and copies what is chosen to another drive with
its times. It never writes to the source. It reads raw, split, EWF, VHD,
VHDX, VMDK and QCOW2 images and ddrescue mapfiles, writes bodyfiles for
mactime and JSON run reports.

This package holds the tarnwell command.")
set(CPACK_COMPONENT_GUI_DESCRIPTION "read-only file recovery wizard
The Tarnwell wizard: choose a drive, a volume or an image, scan it, and copy
lost and deleted files to a folder on another drive. It runs the same engine
as the tarnwell command. The desktop entry starts it through pkexec, as
reading raw drives needs root.")
include(CPack)

# Where an installation puts things, and the Debian package built from it (scripts/package).
#
#   PREFIX/libexec/qswebfiletransfer/   qsft, qsft-browser-host, qsft-devserver and the interface
#                                       description beside them (the programs look for it there)
#   PREFIX/bin/qsft, qsft-devserver     links to the programs above
#   PREFIX/share/qswebfiletransfer/extension/   the browser extension, unpacked
#   PREFIX/share/chromium/extensions/qswebfiletransfer   a link to it, which Debian's chromium
#                                       loads for every user
#   /etc/chromium/native-messaging-hosts/, /etc/opt/chrome/native-messaging-hosts/,
#   /usr/lib/mozilla/native-messaging-hosts/   the browsers' system-wide host manifests,
#                                       written by `qsft register --browser B --system` itself
#                                       so that installer and program never disagree
#
# The package's prefix is /usr; a plain `cmake --install` uses CMAKE_INSTALL_PREFIX.
include(GNUInstallDirs)
set(QSFT_PACKAGE_NAME qswebfiletransfer)
set(QSFT_INSTALL_PROGRAMDIR ${CMAKE_INSTALL_LIBEXECDIR}/${QSFT_PACKAGE_NAME})
set(QSFT_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/${QSFT_PACKAGE_NAME})

# Links on PATH for the programs a user runs; the browsers start qsft-browser-host by its full
# path from the manifests.
file(RELATIVE_PATH qsft_bin_to_programs /${CMAKE_INSTALL_BINDIR} /${QSFT_INSTALL_PROGRAMDIR})
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links/chromium)
foreach(program qsft qsft-devserver)
  file(CREATE_LINK ${qsft_bin_to_programs}/${program} ${CMAKE_BINARY_DIR}/install-links/${program}
       SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/install-links/${program} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/browser/extension/
        DESTINATION ${QSFT_INSTALL_DATADIR}/extension)
# Debian's chromium starts with every extension folder in /usr/share/chromium/extensions.
file(CREATE_LINK ../../${QSFT_PACKAGE_NAME}/extension
     ${CMAKE_BINARY_DIR}/install-links/chromium/${QSFT_PACKAGE_NAME} SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/install-links/chromium/${QSFT_PACKAGE_NAME}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/chromium/extensions)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${QSFT_PACKAGE_NAME})

# Off for an installation below a prefix of one's own, which may not write the system's folders.
option(QSFT_INSTALL_HOST_MANIFESTS "Install the browsers' system-wide host manifests" ON)
foreach(browser chromium chrome firefox)
  if(NOT QSFT_INSTALL_HOST_MANIFESTS)
    break()
  endif()
  install(CODE "
    execute_process(
      COMMAND \"$<TARGET_FILE:qsft>\" register --browser ${browser} --system
              --host \"\${CMAKE_INSTALL_PREFIX}/${QSFT_INSTALL_PROGRAMDIR}/qsft-browser-host\"
              --root \"\$ENV{DESTDIR}/\"
      OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)")
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QSFT_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Tarnholt")
set(CPACK_PACKAGE_CONTACT "QSWebFileTransfer developers <filetransfer@quillstone.tarnholt.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "File-transfer control of the Quillstone Web Client, for Chromium, Chrome and Firefox")
set(CPACK_PACKAGE_DESCRIPTION
    "Moves documents between the user's disk and the document server for the pages of the
Quillstone Web Client. Brings the command-line program qsft, the native messaging host that
the browser extension talks to, the extension itself (unpacked, under
/usr/share/${QSFT_PACKAGE_NAME}/extension) and the host manifests for every user of Chromium,
Chrome and Firefox.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "chromium | firefox-esr")
# The host manifests under /etc are configuration: an administrator's edits survive upgrades.
file(WRITE ${CMAKE_BINARY_DIR}/package-control/conffiles
     "/etc/chromium/native-messaging-hosts/com.tarnholt.quillstone.filetransfer.json\n"
     "/etc/opt/chrome/native-messaging-hosts/com.tarnholt.quillstone.filetransfer.json\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/package-control/conffiles)
include(CPack)

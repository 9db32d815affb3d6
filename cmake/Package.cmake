# The Debian package, made by scripts/package.sh with cpack -G DEB from a
# release build: the application, fablewick-make and fablewick-book, its chapter tool and resources, the
# desktop entry, icons and manual page, depending on Debian's tools.
include(GNUInstallDirs)
set(package_doc ${CMAKE_INSTALL_DATADIR}/doc/fablewick)
# Compressed without a time stamp, as Debian's tools compress them.
foreach(pair "changelog=changelog.gz" "fablewick.1=fablewick.1.gz"
        "fablewick-make.1=fablewick-make.1.gz" "fablewick-book.1=fablewick-book.1.gz")
    string(REPLACE "=" ";" pair ${pair})
    list(GET pair 0 from)
    list(GET pair 1 to)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/${to}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
        COMMAND gzip -n -9 -c ${CMAKE_SOURCE_DIR}/packaging/${from} > ${CMAKE_BINARY_DIR}/packaging/${to}
        DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${from})
endforeach()
add_custom_target(fablewick_package_docs ALL DEPENDS
    ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${CMAKE_BINARY_DIR}/packaging/fablewick.1.gz
    ${CMAKE_BINARY_DIR}/packaging/fablewick-make.1.gz ${CMAKE_BINARY_DIR}/packaging/fablewick-book.1.gz)
install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${package_doc})
install(FILES ${CMAKE_BINARY_DIR}/packaging/fablewick.1.gz
        ${CMAKE_BINARY_DIR}/packaging/fablewick-make.1.gz
        ${CMAKE_BINARY_DIR}/packaging/fablewick-book.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Bash completion, loaded by the name of the command completed.
foreach(command fablewick-make fablewick-book)
    install(FILES packaging/fablewick-completion.bash
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${command})
endforeach()

# A user service for a watched folder: systemctl --user enable --now fablewick-watch
install(FILES packaging/fablewick-watch.service DESTINATION lib/systemd/user)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fablewick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Fablewick developers <developers@fablewick.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes one audiobook of many audio files")
# The summary is the synopsis; cpack indents each line of this below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Fablewick lists MP3, M4A, M4B, FLAC, Ogg, Opus, WAV and WMA files,
orders and tags them, and makes one .mp3, .m4a or .m4b audiobook with
chapters, tags and a cover. It also opens finished books again to fix their
chapters and tags without an encode, and splits them into one file per
chapter.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${FABLEWICK_WEBSITE_HOST}/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools it runs, and what Qt needs to show a window and play sound.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ffmpeg, mp3info, atomicparsley, qt6-qpa-plugins")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# Installed layout and the Debian package.
#
# `cmake --install build --prefix P` puts the tool, its manual (version
# filled in from project()), the RFC 2045 alphabet to copy next to archives,
# the README (with the pages of docs/ it links to) and the LICENSE, and the
# bash, zsh and fish completions under P. `cmake --build build --target deb`
# stages the same install under /usr and turns it into
# mimeunpack_<version>_<arch>.deb in the build directory (cmake/deb.cmake).

include(GNUInstallDirs)
configure_file(${PROJECT_SOURCE_DIR}/docs/mimeunpack.1
               ${PROJECT_BINARY_DIR}/mimeunpack.1 @ONLY)
install(TARGETS mimeunpack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/mimeunpack.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/examples/base64.conf
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mimeunpack)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# README links to these by relative path, so they keep their folder.
set(MIMEUNPACK_DOC_PAGES behaviour-changes design hostile-input layouts
    messages options performance)
list(TRANSFORM MIMEUNPACK_DOC_PAGES PREPEND ${PROJECT_SOURCE_DIR}/docs/)
list(TRANSFORM MIMEUNPACK_DOC_PAGES APPEND .md)
install(FILES ${MIMEUNPACK_DOC_PAGES} ${PROJECT_SOURCE_DIR}/docs/manifest.schema.json
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES ${PROJECT_SOURCE_DIR}/docs/images/browser-before.png
              ${PROJECT_SOURCE_DIR}/docs/images/browser-after.png
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs/images)
# bash-completion loads a command's completion on demand from this directory,
# by the command's name.
install(FILES ${PROJECT_SOURCE_DIR}/completion/mimeunpack.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME mimeunpack)
# zsh and fish look in these directories for completions that packages
# install (Debian's zsh puts vendor-completions on its fpath).
install(FILES ${PROJECT_SOURCE_DIR}/completion/_mimeunpack
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(FILES ${PROJECT_SOURCE_DIR}/completion/mimeunpack.fish
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)

# The package is built with dpkg's own tools from a staged tree rather than
# with cpack: dpkg-deb honours SOURCE_DATE_EPOCH, sorts the members and sets
# root ownership, which is what makes two builds byte-identical (with the
# -ffile-prefix-map options in CMakeLists.txt, which keep the source and
# build paths out of the objects and so out of the binary's build ID).
add_custom_target(deb
  COMMAND ${CMAKE_COMMAND}
          -DBUILD_DIR=${PROJECT_BINARY_DIR}
          -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
          -DVERSION=${PROJECT_VERSION}
          -DSTRIP=${CMAKE_STRIP}
          -P ${PROJECT_SOURCE_DIR}/cmake/deb.cmake
  COMMENT "Building the Debian package"
  VERBATIM)
add_dependencies(deb mimeunpack)

# The Debian package: `cmake --build build --target package` writes
# build/pelkora_<version>_amd64.deb. Its version is the project's, the same one
# `pelkora-cli --version` prints. scripts/check-package checks what comes out.
include(GNUInstallDirs)

set(PELKORA_MAINTAINER "Pelkora tool maintainers <pelkora-tools@example.com>"
    CACHE STRING "Maintainer field of the Debian package")

# Debian wants man pages and the changelog compressed with gzip -9n (no name or
# time stamp inside, so that the same sources give the same bytes).
set(pelkora_pkg_dir ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${pelkora_pkg_dir})
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${pelkora_pkg_dir}/changelog @ONLY)
set(pelkora_gzipped)
foreach(source IN ITEMS ${PROJECT_SOURCE_DIR}/docs/man/pelkora.1 ${PROJECT_SOURCE_DIR}/docs/man/pelkora-cli.1
                        ${pelkora_pkg_dir}/changelog)
    get_filename_component(name ${source} NAME)
    add_custom_command(OUTPUT ${pelkora_pkg_dir}/${name}.gz
        COMMAND gzip -9n -c ${source} > ${pelkora_pkg_dir}/${name}.gz
        DEPENDS ${source} VERBATIM)
    list(APPEND pelkora_gzipped ${pelkora_pkg_dir}/${name}.gz)
endforeach()
add_custom_target(pelkora_package_files ALL DEPENDS ${pelkora_gzipped})

install(FILES ${pelkora_pkg_dir}/pelkora.1.gz ${pelkora_pkg_dir}/pelkora-cli.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/pelkora-cli.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME pelkora-cli)
set(pelkora_doc ${CMAKE_INSTALL_DATADIR}/doc/pelkora)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright
    ${pelkora_pkg_dir}/changelog.gz DESTINATION ${pelkora_doc})
# The README's pages, where its links find them (the pictures stay in the sources).
file(GLOB pelkora_doc_pages ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${pelkora_doc_pages} DESTINATION ${pelkora_doc}/docs)
install(FILES ${PROJECT_SOURCE_DIR}/examples/demo-net.txt ${PROJECT_SOURCE_DIR}/examples/README.md
    DESTINATION ${pelkora_doc}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelkora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "development tool for the Pelkora neural-network module")
# CPack indents the lines and turns the empty one into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[
The Pelkora module evaluates a small feed-forward network (8 inputs,
16 hidden neurons, 8 outputs) and talks to the PC over a serial port.

This package holds the window, pelkora, which monitors the module's
inputs and outputs live, simulates the network in double precision or in
the module's integer arithmetic, emulates the module, loads ASCII net
files, exports flash images, records training sets and trains a network
from them; and pelkora-cli, its command-line companion for scripts, test
benches and CI, which also validates a module against the host, verifies
and decodes flash images, reports the cost of the integer arithmetic and
writes JUnit XML and JSON.]=])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PELKORA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
include(CPack)

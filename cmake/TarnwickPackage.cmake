# The Debian package: `cpack -G DEB` in the build folder makes tarnwick_<version>_amd64.deb
# from the install rules, with the run-time dependencies found by dpkg-shlibdeps.
include(GNUInstallDirs)

set(TARNWICK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tarnwick)
set(package_dir ${PROJECT_SOURCE_DIR}/app/package)
set(package_out ${PROJECT_BINARY_DIR}/package)

# The changelog and the manual page are installed compressed, as Debian policy asks: gzip -9n
# leaves no name or time stamp in the file, so the package is the same from build to build.
configure_file(${package_dir}/changelog.in ${package_out}/changelog @ONLY)
configure_file(${package_dir}/tarnwick.1 ${package_out}/tarnwick.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/app/desktop/tarnwick.metainfo.xml
    ${package_out}/org.tarnwick.tarnwick.metainfo.xml @ONLY)
find_program(GZIP_EXECUTABLE gzip REQUIRED)
set(compressed)
foreach(file IN ITEMS changelog tarnwick.1)
    add_custom_command(OUTPUT ${package_out}/${file}.gz
        COMMAND ${GZIP_EXECUTABLE} -9nc ${package_out}/${file} > ${package_out}/${file}.gz
        DEPENDS ${package_out}/${file}
        VERBATIM)
    list(APPEND compressed ${package_out}/${file}.gz)
endforeach()
add_custom_target(tarnwick_package_files ALL DEPENDS ${compressed})

install(FILES ${package_dir}/copyright ${package_out}/changelog.gz DESTINATION ${TARNWICK_DOC_DIR})
install(FILES ${package_out}/tarnwick.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${package_out}/org.tarnwick.tarnwick.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Folders as Debian expects them whatever the umask of the build (set before the install rules
# of app/, which take it as their default).
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})

# cpack packs what is built: the program and tarnwick_package_files, without waiting for the
# tests and benchmarks to be built as well (scripts/run.sh builds just those two).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarnwick developers")
set(CPACK_PACKAGE_CONTACT "Tarnwick developers <tarnwick@users.noreply.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keep folders in step: copy new and newer files")
set(CPACK_PACKAGE_DESCRIPTION
"Tarnwick keeps a list of source folders, each with its own destination
folders. Synchronize copies every file of a source folder into each of its
destinations when it is missing there or when the source file is newer, with
the source file's time. A Merge destination is also copied back into its
source; a Backup destination only receives. Nothing is ever deleted or moved.

Folders are remembered with the volume serial number of their drive, so a
memory stick that comes back under another mount point is found again.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The About window asks for the semi-condensed face; without it Qt narrows the regular one.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-dejavu-extra)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)

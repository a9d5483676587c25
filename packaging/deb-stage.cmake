# Run by CPack on the staged tree of the Debian package, before it is packed:
# adds what only the Debian package carries and puts the Python package where
# Debian's Python looks for packages of /usr.
set(root ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})

# `cmake --install` with any prefix but /usr puts the package in the
# versioned folder of local packages; a package of /usr belongs in the one
# folder every Python 3 of the system reads.
file(GLOB versioned LIST_DIRECTORIES true ${root}/lib/python3.*/dist-packages/veltra)
foreach(dir IN LISTS versioned)
  file(MAKE_DIRECTORY ${root}/lib/python3/dist-packages)
  file(RENAME ${dir} ${root}/lib/python3/dist-packages/veltra)
  get_filename_component(site ${dir} DIRECTORY)
  get_filename_component(pydir ${site} DIRECTORY)
  file(REMOVE_RECURSE ${pydir})
endforeach()

set(doc ${root}/share/doc/${CPACK_PACKAGE_NAME})
file(MAKE_DIRECTORY ${doc})
file(COPY_FILE ${CPACK_VELTRA_COPYRIGHT} ${doc}/copyright)
file(COPY_FILE ${CPACK_VELTRA_DEBIAN_DIR}/changelog ${doc}/changelog.Debian)
file(REMOVE ${doc}/changelog.Debian.gz)
execute_process(COMMAND gzip -9n ${doc}/changelog.Debian COMMAND_ERROR_IS_FATAL ANY)
# dpkg makes directories 0755 whatever the umask was.
file(CHMOD ${doc} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(CHMOD ${doc}/copyright ${doc}/changelog.Debian.gz PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Each override says why, in a comment above it.
set(overrides ${root}/share/lintian/overrides)
file(MAKE_DIRECTORY ${overrides})
file(COPY_FILE ${CPACK_VELTRA_LINTIAN_OVERRIDES} ${overrides}/${CPACK_PACKAGE_NAME})

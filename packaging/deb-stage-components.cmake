# Run by CPack on the staged trees of the component packages (libveltra1 and
# libveltra-dev; veltra-tango): each package's copyright, changelog.Debian.gz
# and lintian overrides. CPACK_VELTRA_COMPONENT_PACKAGES lists them as
# COMPONENT=PACKAGE.
foreach(pair IN LISTS CPACK_VELTRA_COMPONENT_PACKAGES)
  string(REPLACE "=" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 package)
  set(doc ${CPACK_TEMPORARY_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/${package})
  file(MAKE_DIRECTORY ${doc})
  file(COPY_FILE ${CPACK_VELTRA_COPYRIGHT} ${doc}/copyright)
  file(COPY_FILE ${CPACK_VELTRA_DEBIAN_DIR}/changelog ${doc}/changelog.Debian)
  file(REMOVE ${doc}/changelog.Debian.gz)
  execute_process(COMMAND gzip -9n ${doc}/changelog.Debian COMMAND_ERROR_IS_FATAL ANY)
  file(CHMOD ${doc} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  file(CHMOD ${doc}/copyright ${doc}/changelog.Debian.gz PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  # Each override says why, in a comment above it.
  set(overrides ${CPACK_TEMPORARY_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX}/share/lintian/overrides)
  file(MAKE_DIRECTORY ${overrides})
  file(WRITE ${overrides}/${package} "# Built for labs and internal repositories, not uploaded to Debian's archive:\n"
                                     "# no \"intent to package\" bug for the first changelog entry to close.\n"
                                     "${package}: initial-upload-closes-no-bugs\n")
  if(package STREQUAL "libveltra1")
    file(APPEND ${overrides}/${package}
         "# dpkg's ldconfig trigger refreshes the linker cache; these two stand in\n"
         "# for the ones CPack would write, which call ldconfig themselves.\n"
         "libveltra1: maintainer-script-empty [postinst]\n"
         "libveltra1: maintainer-script-empty [postrm]\n")
  endif()
  file(CHMOD ${overrides}/${package} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()

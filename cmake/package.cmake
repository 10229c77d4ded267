# Debian packages through CPack (cpack -G DEB in the build tree): kvdbmgr with
# its SQLite driver, schema files and man page in one package, and each server
# driver in a package of its own, so that an SQLite-only site pulls in no
# server client library. Dependencies on shared libraries are computed by
# dpkg-shlibdeps from what each module links.
set(CPACK_PACKAGE_NAME kvdbmgr)
set(CPACK_PACKAGE_VERSION "${KV_VERSION}")
set(CPACK_PACKAGE_VENDOR "Korvel")
set(CPACK_PACKAGE_CONTACT "Korvel developers <korvel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Korvel database manager")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
# Debian versions sort "~rc1" before the release itself.
string(REPLACE "-" "~" CPACK_DEBIAN_PACKAGE_VERSION "${KV_VERSION}")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME kvdbmgr)
set(CPACK_COMPONENT_TOOL_DESCRIPTION "Console manager for the Korvel server's database (SQLite driver included)")
set(KV_PACKAGED_COMPONENTS tool)
foreach(driver ${KV_DRIVERS})
  if(NOT driver STREQUAL "sqlite")
    string(TOUPPER ${driver} upper)
    set(CPACK_DEBIAN_${upper}_PACKAGE_NAME kvdbmgr-${driver})
    set(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS "kvdbmgr (= ${CPACK_DEBIAN_PACKAGE_VERSION})")
    set(CPACK_COMPONENT_${upper}_DESCRIPTION "The ${driver} driver module of kvdbmgr")
    list(APPEND KV_PACKAGED_COMPONENTS ${driver})
  endif()
endforeach()
# Only the tool and the drivers: the test-only targets install nothing.
set(CPACK_COMPONENTS_ALL ${KV_PACKAGED_COMPONENTS})
include(CPack)

# SPDX-License-Identifier: MIT
# Debian packages from the install components (cpack -G DEB in the build
# folder; scripts/build-packages.sh does it and runs lintian). Configure with
# -DCMAKE_INSTALL_PREFIX=/usr: the paths compiled into the programs are the
# installed ones.

set(CPACK_PACKAGE_NAME mailbroker)
set(CPACK_PACKAGE_VENDOR "The mailbroker authors")
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_CONTACT "The mailbroker authors <mailbroker@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies come from dpkg-shlibdeps; written by hand below is only what
# no binary links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file for libmailbroker1 (CPack has no per-package switch; the
# provider's private libraries have no SONAME and are left out of it). The
# ABI only grows within SONAME 1, so hosts built now need this version or later.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

# Each package's copyright and changelog, as Debian policy wants them in
# /usr/share/doc/PACKAGE.
set(mb_changelog_gz "${CMAKE_BINARY_DIR}/packaging/changelog.gz")
file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/packaging")
execute_process(COMMAND gzip -9nc "${PROJECT_SOURCE_DIR}/packaging/debian/changelog"
                OUTPUT_FILE "${mb_changelog_gz}" COMMAND_ERROR_IS_FATAL ANY)

# mb_package(COMPONENT NAME SECTION SUMMARY DESCRIPTION)
macro(mb_package component name section summary description)
  string(TOUPPER ${component} mb_upper)
  set(CPACK_DEBIAN_${mb_upper}_PACKAGE_NAME ${name})
  set(CPACK_DEBIAN_${mb_upper}_PACKAGE_SECTION ${section})
  set(CPACK_COMPONENT_${mb_upper}_DESCRIPTION "${summary}\n${description}")
  install(FILES "${PROJECT_SOURCE_DIR}/packaging/debian/copyright" "${mb_changelog_gz}"
          DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${name}" COMPONENT ${component})
  list(APPEND CPACK_COMPONENTS_ALL ${component})
endmacro()

set(CPACK_COMPONENTS_ALL "")
mb_package(broker mailbroker mail
  "mail broker that sends documents for host applications"
  "A host application starts the Broker and asks it over a named pipe to send\nmail, resolve recipients or name the default profile. The Broker serves\nthese inside a MAPI session of its own provider: a Maildir store of\nstandard messages, a vCard address book, and SMTP or sendmail delivery\nwith a spooler that keeps every message until it is sent.\n\nThis package holds the Broker, the provider and mailbroker-client.")
# The provider loads libcurl and OpenSSL at run time (only profiles that
# deliver over SMTP or check certificates need them), so no binary links
# them and dpkg-shlibdeps cannot see them; the MIME database gives
# attachments their media type.
set(CPACK_DEBIAN_BROKER_PACKAGE_DEPENDS "libcurl4, libssl3, shared-mime-info")
set(CPACK_DEBIAN_BROKER_PACKAGE_RECOMMENDS "mailbroker-dialogs, xdg-utils")

if(TARGET mailbroker-dialogs)
  mb_package(dialogs mailbroker-dialogs mail
    "desktop dialogs for the mail broker"
    "The GTK 4 dialogs of the mail broker's provider: Check Names, the address\nbook, the profile chooser and a compose window. Kept apart so that a\nserver needs no GTK.")
  set(CPACK_DEBIAN_DIALOGS_PACKAGE_DEPENDS "mailbroker (= 1.0.0)")
endif()

if(TARGET libmailbroker)
  mb_package(lib libmailbroker1 libs
    "C library for hosts of the mail broker"
    "Starts a mail broker for the calling program and sends it requests: send\na message with attachments, resolve recipients, name the default profile.")
  set(CPACK_DEBIAN_LIB_PACKAGE_DEPENDS "mailbroker (>= 1.0.0)")
  mb_package(dev libmailbroker-dev libdevel
    "C library for hosts of the mail broker - development files"
    "The header <mailbroker/mailbroker.h>, the pkg-config and CMake package files\nand the manual page of libmailbroker.")
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libmailbroker1 (= 1.0.0)")
endif()

if(DEFINED MB_PYTHON_DIR)
  mb_package(python python3-mailbroker python
    "Python module for hosts of the mail broker"
    "A pure-Python module that starts a mail broker and sends it requests:\nsend a message with attachments, resolve recipients, name the default\nprofile.")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any, mailbroker (>= 1.0.0)")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
endif()

include(CPack)

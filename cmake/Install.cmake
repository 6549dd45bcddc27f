# SPDX-License-Identifier: MIT
# Where `cmake --install` puts the programs, and the Debian packages made from
# that install (cpack -G DEB). Components map one to one onto packages:
#   broker   mailbroker           the Broker, the provider, the client, pages 1 and 5
#   dialogs  mailbroker-dialogs   the GTK dialogs, apart so that servers need no GTK
#   lib      libmailbroker1       the C library for hosts
#   dev      libmailbroker-dev    its header, pkg-config and CMake files, page 3
#   python   python3-mailbroker   the Python module for hosts

# The private directory: the Broker loads libmapi32.so from its own folder,
# the provider loads libmbmime.so and runs mailbroker-dialogs,
# mailbroker-secret and mailbroker-check from its own; none of them is for a
# user to run, so none goes on PATH.
install(TARGETS mailbroker RUNTIME DESTINATION ${MB_PRIVATE_DIR} COMPONENT broker)
foreach(library mapi32 mbmime)
  install(TARGETS ${library} LIBRARY DESTINATION ${MB_PRIVATE_DIR} COMPONENT broker
          NAMELINK_SKIP)
endforeach()
foreach(program mailbroker-check mailbroker-secret)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${MB_PRIVATE_DIR} COMPONENT broker)
  endif()
endforeach()
if(TARGET mailbroker-dialogs)
  install(TARGETS mailbroker-dialogs RUNTIME DESTINATION ${MB_PRIVATE_DIR} COMPONENT dialogs)
endif()
install(TARGETS mailbroker-client RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT broker)

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT broker)

include(cmake/Packaging.cmake)

include(GNUInstallDirs)
install(TARGETS kestro-agent RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Where each program lands. Linux: the companion in bin/, the runtime it starts in
# share/kestro-agent/Runtime/ (and on the search path in bin/), the desktop entry and its icons.
# macOS: "kestro Agent.app" with the runtime inside Contents/Resources/Runtime/.
include(GNUInstallDirs)
if(NOT TARGET kestro-agent)
  return() # a fuzzing build has no programs to install
endif()

if(APPLE)
  if(TARGET kestro-agent-companion)
    install(TARGETS kestro-agent-companion BUNDLE DESTINATION .)
    install(TARGETS kestro-agent RUNTIME DESTINATION "kestro Agent.app/Contents/Resources/Runtime")
  else()
    install(TARGETS kestro-agent RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  return()
endif()

install(TARGETS kestro-agent RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS kestro-agent RUNTIME DESTINATION ${CMAKE_INSTALL_DATADIR}/kestro-agent/Runtime)
if(TARGET kestro-agent-companion)
  set(resources ${PROJECT_SOURCE_DIR}/companion/resources)
  install(TARGETS kestro-agent-companion RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${resources}/com.brantel.kestro.agent.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${resources}/kestro-mark.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME com.brantel.kestro.agent.svg)
  foreach(size 48 64 128 256 512)
    install(FILES ${resources}/kestro-mark-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME com.brantel.kestro.agent.png)
  endforeach()
endif()

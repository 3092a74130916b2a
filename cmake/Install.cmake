# Where each program lands. Linux, in the components the Debian packages are made of
# (cmake/Package.cmake): "runtime", the runtime in bin/ with its user service, and "companion",
# the companion in bin/ with its desktop entry and icons. An install from the build folder also
# puts a copy of the runtime beside the companion, in share/kestro-agent/Runtime/ (component
# "bundle"); the packages leave it out, the companion finding the runtime's package in /usr/bin.
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

# No public address exists yet: one under the reserved .invalid domain stands in for it.
set(KESTRO_MAINTAINER "kestro Agent maintainers <maintainers@kestro-agent.invalid>")
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(generated ${PROJECT_BINARY_DIR}/packaging)
set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc)

# The changelog Debian wants beside each package and the manual pages, filled in with the version
# and compressed without a time stamp.
string(TIMESTAMP KESTRO_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(file changelog kestro-agent.1 kestro-agent-companion.1)
  configure_file(${packaging}/${file}.in ${generated}/${file} @ONLY)
  execute_process(COMMAND gzip -9 -n -c INPUT_FILE ${generated}/${file} OUTPUT_FILE ${generated}/${file}.gz
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()

install(TARGETS kestro-agent RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
# The user service names the program where it is installed, which only the install itself knows
# (`cmake --install --prefix P`, or /usr for a package).
install(CODE "set(KESTRO_SERVICE_TEMPLATE \"${packaging}/kestro-agent.service.in\")
              set(KESTRO_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")" COMPONENT runtime)
install(CODE [[
  set(KESTRO_AGENT_PROGRAM "${CMAKE_INSTALL_PREFIX}/${KESTRO_INSTALL_BINDIR}/kestro-agent")
  set(unit "${CMAKE_INSTALL_PREFIX}/lib/systemd/user/kestro-agent.service")
  message(STATUS "Installing: $ENV{DESTDIR}${unit}")
  configure_file("${KESTRO_SERVICE_TEMPLATE}" "$ENV{DESTDIR}${unit}" @ONLY)
  file(CHMOD "$ENV{DESTDIR}${unit}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "$ENV{DESTDIR}${unit}")
]] COMPONENT runtime)
install(FILES ${packaging}/copyright ${generated}/changelog.gz DESTINATION ${docdir}/kestro-agent
        COMPONENT runtime)
install(FILES ${generated}/kestro-agent.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

if(TARGET kestro-agent-companion)
  # The companion is installed only when it was built: after ./scripts/run, which builds the
  # runtime alone, the install says so and leaves it out instead of failing half way. The files
  # that go with it follow it: each given as source, destination folder, installed name, and "r"
  # (readable) or "x" (executable).
  function(kestro_install_with_companion component)
    install(CODE "set(KESTRO_COMPANION_PROGRAM \"$<TARGET_FILE:kestro-agent-companion>\")
                  set(KESTRO_COMPANION_FILES \"${ARGN}\")" COMPONENT ${component})
    install(CODE [[
      while(KESTRO_COMPANION_FILES AND EXISTS "${KESTRO_COMPANION_PROGRAM}")
        list(POP_FRONT KESTRO_COMPANION_FILES source destination name mode)
        set(permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
        if(mode STREQUAL "x")
          list(APPEND permissions OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
        endif()
        file(INSTALL "${source}" DESTINATION "${CMAKE_INSTALL_PREFIX}/${destination}" RENAME "${name}"
             PERMISSIONS ${permissions})
      endwhile()
    ]] COMPONENT ${component})
  endfunction()

  install(CODE "if(NOT EXISTS \"$<TARGET_FILE:kestro-agent-companion>\")
                  message(STATUS \"Leaving out the companion: it is not built (cmake --build --preset release).\")
                endif()" COMPONENT companion)
  install(TARGETS kestro-agent-companion RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT companion
          OPTIONAL)
  set(resources ${PROJECT_SOURCE_DIR}/companion/resources)
  set(icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
  set(companion_files
      ${resources}/com.brantel.kestro.agent.desktop ${CMAKE_INSTALL_DATADIR}/applications
      com.brantel.kestro.agent.desktop r
      ${resources}/kestro-mark.svg ${icons}/scalable/apps com.brantel.kestro.agent.svg r
      ${packaging}/copyright ${docdir}/kestro-agent-companion copyright r
      ${generated}/changelog.gz ${docdir}/kestro-agent-companion changelog.gz r
      ${generated}/kestro-agent-companion.1.gz ${CMAKE_INSTALL_MANDIR}/man1 kestro-agent-companion.1.gz r)
  foreach(size 48 64 128 256 512)
    list(APPEND companion_files
         ${resources}/kestro-mark-${size}.png ${icons}/${size}x${size}/apps com.brantel.kestro.agent.png r)
  endforeach()
  kestro_install_with_companion(companion ${companion_files})
  kestro_install_with_companion(bundle
      $<TARGET_FILE:kestro-agent> ${CMAKE_INSTALL_DATADIR}/kestro-agent/Runtime kestro-agent x)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)

# Install rules: the programs in bin/, their resources in share/vexofax (found
# relative to the programs' own location), the desktop entry, icon, AppStream
# data, man pages, bash completion and the systemd user unit where desktops,
# man, bash and systemd look for them.
include(GNUInstallDirs)

# Installing and packaging take the built tree as it is: cpack's install step does
# not build every target (tests and benchmarks) first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(resources ${PROJECT_SOURCE_DIR}/resources)

foreach(program vexo vexofax vexo-linesim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The CUPS backend goes where CUPS looks for backends (lib/cups/backend under
# the prefix, as CUPS's own is under /usr), owned by root with mode 0700 so that
# CUPS runs it as root and it can act as the printing user.
if(TARGET vexofax-backend)
  install(PROGRAMS $<TARGET_FILE:vexofax-backend> DESTINATION lib/cups/backend RENAME vexofax
          PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endif()

# string_ids.txt only names the ids for the build.
install(DIRECTORY ${resources}/strings ${resources}/cover ${resources}/help ${resources}/sound
                  ${resources}/cups
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vexofax
        PATTERN string_ids.txt EXCLUDE)

install(FILES ${resources}/desktop/vexofax.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(DIRECTORY ${resources}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(DIRECTORY ${resources}/metainfo/ DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        FILES_MATCHING PATTERN "*.metainfo.xml")

# Man pages and completions: whatever resources/man and resources/completion hold.
file(GLOB man_pages CONFIGURE_DEPENDS ${resources}/man/*.1)
if(man_pages)
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
file(GLOB completions CONFIGURE_DEPENDS ${resources}/completion/*)
if(completions)
  install(FILES ${completions} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()

# The unit starts the installed vexo, so it is written at install time, when the
# prefix is known (cmake --install --prefix, or /usr for the package).
set(unit ${PROJECT_BINARY_DIR}/systemd/vexo-answer.service)
install(CODE "
  set(CMAKE_INSTALL_FULL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  configure_file(\"${resources}/systemd/vexo-answer.service.in\" \"${unit}\" @ONLY)
  file(INSTALL \"${unit}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\")
")

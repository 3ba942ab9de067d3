# cmake --install: the programs, the desktop entry and icon, the language
# files (app/CMakeLists.txt) and the preset files.
include(GNUInstallDirs)
foreach(program vexa-screen-recorder vexarec vexaenc)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/app/desktop/vexa-screen-recorder.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/app/desktop/vexa-screen-recorder.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/presets/ DESTINATION ${CMAKE_INSTALL_DATADIR}/vexa-screen-recorder/presets
        FILES_MATCHING PATTERN "*.preset")

# The setup program: the application object and the dialog's initialisation, linked with the
# dialog's resources and the framework's entry point.
if(WIN32)
  target_sources(qerv_win PRIVATE setup_app.cpp setup_app_init_dialog.cpp)
  add_executable(QervSetupOnline WIN32
    setup_app_object.cpp ${CMAKE_SOURCE_DIR}/src/ui/framework/win_main.cpp)
  target_link_libraries(QervSetupOnline PRIVATE qerv_ui_resources qerv_win comctl32 gdi32 user32
    shell32 ole32)
  target_link_options(QervSetupOnline PRIVATE -municode)
endif()

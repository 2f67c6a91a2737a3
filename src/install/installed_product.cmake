# Installed-product detection and uninstall: the product-name text is portable, the checks are
# Win32.
target_sources(qerv_core PRIVATE installed_product_text.cpp)
if(WIN32)
  target_sources(qerv_win PRIVATE installed_product_win32.cpp installed_product_check_win32.cpp)
  target_link_libraries(qerv_win PUBLIC shlwapi shell32)
endif()

# Third-party libraries of the core, all from Debian packages (scripts/install-deps).

find_path(RAPIDJSON_INCLUDE_DIR rapidjson/document.h REQUIRED)
target_include_directories(gp_core SYSTEM PUBLIC ${RAPIDJSON_INCLUDE_DIR})

if(NOT WIN32)
  find_path(LMDB_INCLUDE_DIR lmdb.h REQUIRED)
  find_library(LMDB_LIBRARY lmdb REQUIRED)
  target_include_directories(gp_core SYSTEM PRIVATE ${LMDB_INCLUDE_DIR})
  target_link_libraries(gp_core PUBLIC ${LMDB_LIBRARY})
endif()

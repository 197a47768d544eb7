# The pinyin readings table (tools/gen-pinyin-table.py writes pinyin.bin),
# embedded like the collation table: include after zisort.cmake, which
# enables the assembler and starts QV_RESOURCE_SOURCES.

set(QV_PINYIN_BIN ${CMAKE_CURRENT_LIST_DIR}/pinyin.bin)

set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/pinyin.S PROPERTIES
  COMPILE_DEFINITIONS "QV_PINYIN_BIN=\"${QV_PINYIN_BIN}\""
  OBJECT_DEPENDS ${QV_PINYIN_BIN})

list(APPEND QV_RESOURCE_SOURCES ${CMAKE_CURRENT_LIST_DIR}/pinyin.S)

# Embedded engine resources. Include from the engine's CMakeLists.txt and add
# ${QV_RESOURCE_SOURCES} to the engine library's sources (api/qvResource.cpp
# finds them at run time).
#
# zisort.S pulls zisort.bin in with .incbin; the path comes in through
# QV_ZISORT_BIN, and OBJECT_DEPENDS rebuilds the object when the table
# changes (the compiler's dependency scan does not see .incbin files).

enable_language(ASM)

set(QV_ZISORT_BIN ${CMAKE_CURRENT_LIST_DIR}/zisort.bin)

set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/zisort.S PROPERTIES
  COMPILE_DEFINITIONS "QV_ZISORT_BIN=\"${QV_ZISORT_BIN}\""
  OBJECT_DEPENDS ${QV_ZISORT_BIN})

set(QV_RESOURCE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/zisort.S)

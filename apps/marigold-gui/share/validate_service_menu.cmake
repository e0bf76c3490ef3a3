# cmake -DVALIDATOR=desktop-file-validate -DFILE=menu.desktop -P validate_service_menu.cmake
# Validates a Dolphin service menu. Its MimeType and Actions keys belong to the "Service" type that
# KIO reads, which the validator knows only for applications; those two findings are expected and
# every other one fails the check.
execute_process(COMMAND ${VALIDATOR} ${FILE} OUTPUT_VARIABLE found ERROR_VARIABLE found)
string(REGEX REPLACE
       "[^\n]*: error: key \"(MimeType|Actions)\" is present in group \"Desktop Entry\", but the type is \"Service\" while this key is only valid for type \"Application\"\n"
       "" unexpected "${found}")
if(NOT unexpected STREQUAL "")
  message(FATAL_ERROR "${unexpected}")
endif()
message(STATUS "${FILE}: valid service menu")

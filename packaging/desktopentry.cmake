# Makes the desktop entry from its template (cmake -P, with converter, template, output and
# summary set): MimeType= lists the types of the converter's table of formats.
execute_process(COMMAND ${converter} --mime-types OUTPUT_VARIABLE lines RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${converter} --mime-types: ${status}")
endif()
# A line each: the type, then its suffixes.
string(REGEX REPLACE "([^ \n]+)[^\n]*\n" "\\1;" mime_types "${lines}")
configure_file(${template} ${output} @ONLY)

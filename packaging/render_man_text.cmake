# Renders a manual page as plain text for the HTML manual:
# cmake -DGROFF=... -DPAGE=page.1 -DOUT=page.txt -P render_man_text.cmake
execute_process(COMMAND ${GROFF} -man -Tutf8 -P-cbou ${PAGE}
  OUTPUT_FILE ${OUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "groff could not render ${PAGE}")
endif()

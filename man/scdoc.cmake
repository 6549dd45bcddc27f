# SPDX-License-Identifier: MIT
# cmake -DSCDOC=... -DINPUT=X.scd -DOUTPUT=X -P scdoc.cmake: scdoc reads only
# standard input; a page scdoc refuses must not be left half written, or the
# next build would take it for done.
execute_process(COMMAND "${SCDOC}" INPUT_FILE "${INPUT}" OUTPUT_FILE "${OUTPUT}.tmp"
                RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  file(REMOVE "${OUTPUT}.tmp")
  message(FATAL_ERROR "scdoc ${INPUT}: ${errors}")
endif()
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
# The installed page is compressed, as Debian wants (-n: no name or time in
# the header, so that the same page gives the same bytes).
execute_process(COMMAND gzip -9nc "${OUTPUT}" OUTPUT_FILE "${OUTPUT}.gz.tmp"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE "${OUTPUT}.gz.tmp")
  message(FATAL_ERROR "gzip ${OUTPUT} failed")
endif()
file(RENAME "${OUTPUT}.gz.tmp" "${OUTPUT}.gz")

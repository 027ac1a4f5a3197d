# tests/tools/regenerate_icon.cmake: draws one icon again and compares it
# with the one kept in resources/.
# -DMAKE_ICON=<tool> -DPICTURE=<name> -DEXPECTED=<kept .ico> -DOUTPUT=<scratch .ico>
get_filename_component(out_dir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${out_dir}")
file(REMOVE "${OUTPUT}")
execute_process(COMMAND "${MAKE_ICON}" "${PICTURE}" "${OUTPUT}"
    RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "make_icon ${PICTURE} failed (${status}): ${errors}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${OUTPUT}" "${EXPECTED}"
    RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
    message(FATAL_ERROR "${EXPECTED} is not what make_icon ${PICTURE} draws (${OUTPUT}); "
                        "redraw it with: make_icon ${PICTURE} ${EXPECTED}")
endif()
file(REMOVE "${OUTPUT}")

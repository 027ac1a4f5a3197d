# nuv_embed_resources(<target> SCRIPT <file.rc> [INCLUDES <file>...]
#                     [BLOB <type> <id> <file>]... [BLOB_MACROS <name>...])
#
# Gives <target> the dialog templates of SCRIPT and the blobs. On Windows the
# resource compiler takes a small generated script that includes SCRIPT and
# names the blobs. Natively the files themselves are embedded read-only
# (.incbin) and listed in a table that the platform layer's FindResourceA
# and its resource-script reader look things up in.
#
# BLOB_MACROS (Windows only; one name per BLOB, in order) is for a script
# that names its blobs itself, as in `112 NUV_FIRMWARE NUV_TARGET_IMAGE`:
# the generated script defines each macro as its blob's quoted path ahead
# of SCRIPT instead of adding a resource line. Defining them there rather
# than with windres -D keeps quoted paths clear of two rounds of shell
# quoting. INCLUDES are also the files the script names (icons): on Windows
# they, the script and the blobs make the compiled resources out of date.
function(nuv_embed_resources target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "SCRIPT" "INCLUDES;BLOB;BLOB_MACROS")
    if(NOT ARG_SCRIPT)
        message(FATAL_ERROR "nuv_embed_resources(${target}): SCRIPT is required")
    endif()
    get_filename_component(script "${ARG_SCRIPT}" ABSOLUTE)
    list(LENGTH ARG_BLOB blob_words)
    math(EXPR blob_rest "${blob_words} % 3")
    if(NOT blob_rest EQUAL 0)
        message(FATAL_ERROR "nuv_embed_resources(${target}): BLOB takes <type> <id> <file>")
    endif()
    set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources")

    if(WIN32)
        list(LENGTH ARG_BLOB_MACROS macro_count)
        math(EXPR blob_count "${blob_words} / 3")
        if(macro_count GREATER blob_count)
            message(FATAL_ERROR "nuv_embed_resources(${target}): more BLOB_MACROS than BLOBs")
        endif()
        set(defines "")
        set(lines "")
        set(deps "${script}")
        foreach(file IN LISTS ARG_INCLUDES)
            get_filename_component(file "${file}" ABSOLUTE)
            list(APPEND deps "${file}")
        endforeach()
        set(i 0)
        set(n 0)
        while(i LESS blob_words)
            math(EXPR j "${i} + 1")
            math(EXPR k "${i} + 2")
            list(GET ARG_BLOB ${i} type)
            list(GET ARG_BLOB ${j} id)
            list(GET ARG_BLOB ${k} file)
            get_filename_component(file "${file}" ABSOLUTE)
            list(APPEND deps "${file}")
            if(n LESS macro_count)
                list(GET ARG_BLOB_MACROS ${n} macro)
                string(APPEND defines "#define ${macro} \"${file}\"\n")
            else()
                string(APPEND lines "LANGUAGE 9, 1\n${id} ${type} \"${file}\"\n")
            endif()
            math(EXPR i "${i} + 3")
            math(EXPR n "${n} + 1")
        endwhile()
        set(rc "${defines}#include \"${script}\"\n${lines}")
        file(GENERATE OUTPUT "${dir}/resources.rc" CONTENT "${rc}")
        target_sources(${target} PRIVATE "${dir}/resources.rc")
        get_filename_component(script_dir "${script}" DIRECTORY)
        set_property(SOURCE "${dir}/resources.rc" APPEND PROPERTY INCLUDE_DIRECTORIES "${script_dir}")
        # windres leaves no dependency file behind: name what it reads.
        set_property(SOURCE "${dir}/resources.rc" APPEND PROPERTY OBJECT_DEPENDS ${deps})
        return()
    endif()

    set(asm "")
    set(table "")
    set(deps "${script}")
    set(n 0)
    macro(nuv_add_entry type id name file)
        string(APPEND asm "    \".balign 16\\n\"\n"
                          "    \".globl nuv_res_${n}, nuv_res_${n}_end\\n\"\n"
                          "    \".hidden nuv_res_${n}, nuv_res_${n}_end\\n\"\n"
                          "    \"nuv_res_${n}:\\n\"\n"
                          "    \".incbin \\\"${file}\\\"\\n\"\n    \"nuv_res_${n}_end:\\n\"\n")
        string(APPEND table "    {\"${type}\", ${id}, \"${name}\", nuv_res_${n}, nuv_res_${n}_end},\n")
        list(APPEND deps "${file}")
        math(EXPR n "${n} + 1")
    endmacro()

    get_filename_component(name "${script}" NAME)
    nuv_add_entry("#script" 0 "${name}" "${script}")
    foreach(file IN LISTS ARG_INCLUDES)
        get_filename_component(file "${file}" ABSOLUTE)
        get_filename_component(name "${file}" NAME)
        nuv_add_entry("#file" 0 "${name}" "${file}")
    endforeach()
    set(i 0)
    while(i LESS blob_words)
        math(EXPR j "${i} + 1")
        math(EXPR k "${i} + 2")
        list(GET ARG_BLOB ${i} type)
        list(GET ARG_BLOB ${j} id)
        list(GET ARG_BLOB ${k} file)
        get_filename_component(file "${file}" ABSOLUTE)
        get_filename_component(name "${file}" NAME)
        nuv_add_entry("${type}" ${id} "${name}" "${file}")
        math(EXPR i "${i} + 3")
    endwhile()

    set(decls "")
    math(EXPR last "${n} - 1")
    foreach(i RANGE ${last})
        string(APPEND decls "extern \"C\" const unsigned char nuv_res_${i}[];\n"
                            "extern \"C\" const unsigned char nuv_res_${i}_end[];\n")
    endforeach()

    file(GENERATE OUTPUT "${dir}/resources.cpp" CONTENT
"// Generated by nuv_embed_resources for ${target}; do not edit.
#include \"platform/embedded.h\"

__asm__(
    \".pushsection .rodata\\n\"
${asm}    \".popsection\\n\");

${decls}
const EmbeddedResource embedded_resources[] = {
${table}};
const int embedded_resource_count = ${n};
")
    target_sources(${target} PRIVATE "${dir}/resources.cpp")
    set_source_files_properties("${dir}/resources.cpp" PROPERTIES OBJECT_DEPENDS "${deps}")
endfunction()

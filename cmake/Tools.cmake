# Finds the system's audio tools and links them into the resource directory,
# where the application looks them up by name.
set(FABLEWICK_TOOL_LINKS "")
foreach(tool mp3info ffmpeg ffprobe AtomicParsley)
    string(TOUPPER ${tool} var)
    find_program(FABLEWICK_${var}_PROGRAM ${tool})
    if(FABLEWICK_${var}_PROGRAM)
        file(CREATE_LINK ${FABLEWICK_${var}_PROGRAM} ${FABLEWICK_RESOURCE_DIR}/${tool} SYMBOLIC)
        list(APPEND FABLEWICK_TOOL_LINKS "${tool}=${FABLEWICK_${var}_PROGRAM}")
    else()
        message(WARNING "${tool} was not found; Fablewick cannot make audiobooks without it")
    endif()
endforeach()

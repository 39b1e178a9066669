# windres reports no dependencies to Ninja, so an edited dialog, string table
# or manifest would not rebuild the resources. lumora_resource_depends reads
# what a resource script names (#include "…" and quoted resource files such as
# the manifest), follows headers and nested scripts, and sets the script's
# OBJECT_DEPENDS from that: the scripts themselves stay the one list. Each
# file read is a configure dependency, so a new #include is picked up.
# Angle-bracket includes are the toolchain's and are not followed.

function(_lumora_rc_scan file roots out_var)
  set(found "")
  set(queue "${file}")
  while(queue)
    list(POP_FRONT queue current)
    if(current IN_LIST found)
      continue()
    endif()
    list(APPEND found "${current}")
    set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${current}")
    if(current MATCHES "\\.(manifest|ico|bmp|cur)$")
      continue()  # binary or XML payloads name nothing further
    endif()
    file(STRINGS "${current}" lines REGEX "^[ \t]*(#[ \t]*include[ \t]*\"|[A-Za-z0-9_]+[ \t]+[A-Za-z0-9_]+[ \t]+\")")
    get_filename_component(here "${current}" DIRECTORY)
    foreach(line IN LISTS lines)
      if(NOT line MATCHES "\"([^\"]+)\"")
        continue()
      endif()
      set(name "${CMAKE_MATCH_1}")
      set(hit "")
      foreach(root IN ITEMS "${here}" ${roots})
        if(EXISTS "${root}/${name}")
          get_filename_component(hit "${root}/${name}" ABSOLUTE)
          break()
        endif()
      endforeach()
      if(hit)
        list(APPEND queue "${hit}")
      elseif(NOT name MATCHES "\\.(h|rc)$")
        # a quoted string that is no file (a caption on one line): not a dependency
      else()
        message(FATAL_ERROR "${current} includes \"${name}\", which is in none of: ${here};${roots}")
      endif()
    endforeach()
  endwhile()
  list(REMOVE_AT found 0)  # the script itself
  set(${out_var} "${found}" PARENT_SCOPE)
endfunction()

function(lumora_resource_depends script)
  get_filename_component(script "${script}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
  _lumora_rc_scan("${script}" "${CMAKE_SOURCE_DIR}/src;${CMAKE_BINARY_DIR}/generated" deps)
  set_source_files_properties("${script}" PROPERTIES OBJECT_DEPENDS "${deps}")
endfunction()

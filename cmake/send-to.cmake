# The Send To helpers of the Windows .zip, grkpage-to-windows.cmd and
# grkpage-to-dos.cmd, made into `directory` from their one template.
function(grkpage_send_to_helpers directory)
  foreach(GRKPAGE_TO Windows DOS)
    if(GRKPAGE_TO STREQUAL "DOS")
      set(GRKPAGE_FROM Windows)
      set(GRKPAGE_DIRECTION_ARGUMENT " -")
    else()
      set(GRKPAGE_FROM DOS)
      set(GRKPAGE_DIRECTION_ARGUMENT "")
    endif()
    string(TOLOWER ${GRKPAGE_TO} name)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/grkpage-to.cmd.in
                   ${directory}/grkpage-to-${name}.cmd @ONLY NEWLINE_STYLE CRLF)
  endforeach()
endfunction()

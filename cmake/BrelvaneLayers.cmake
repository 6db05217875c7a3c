# A library links only libraries of the layers below it (the order in
# README's folder table). log, config, the HTML library and the protocol
# library stand on one level and do not use each other. The includes are
# checked by scripts/check-layers.
set(brelvane_level_brelvane_foundation 0)
set(brelvane_level_brelvane_log 1)
set(brelvane_level_brelvane_config 1)
set(brelvane_level_brelvane_html 1)
set(brelvane_level_brelvane_protocol 1)
set(brelvane_level_brelvane_mail 2)
set(brelvane_level_brelvane_http 3)
set(brelvane_level_brelvane_scraper 4)
set(brelvane_level_brelvane_sessions 5)
set(brelvane_level_brelvane_servers 6)
set(brelvane_level_brelvane_app 7)

function(brelvane_check_layers)
  foreach(lib brelvane_foundation brelvane_log brelvane_config brelvane_html brelvane_protocol
              brelvane_mail brelvane_http brelvane_scraper brelvane_sessions brelvane_servers brelvane_app)
    if(NOT TARGET ${lib})
      continue()
    endif()
    get_target_property(type ${lib} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(deps ${lib} INTERFACE_LINK_LIBRARIES)
    else()
      get_target_property(deps ${lib} LINK_LIBRARIES)
    endif()
    if(NOT deps)
      continue()
    endif()
    foreach(dep ${deps})
      if(DEFINED brelvane_level_${dep} AND
         NOT brelvane_level_${dep} LESS brelvane_level_${lib})
        message(FATAL_ERROR "${lib} links ${dep}, which is not a layer below it")
      endif()
    endforeach()
  endforeach()
endfunction()

# The optional ways to reach the modem that need a library (the D-Bus way needs libdbus-1): each is
# chosen by a cache option that takes AUTO, ON or OFF, and every way built is listed in
# MODEM_STATUS_WAYS.

# Resolves OPTION for a way named WAY that needs the pkg-config MODULE, found under PREFIX:
#   AUTO  build the way when MODULE is found (the default)
#   ON    build it; configuring fails when MODULE is missing
#   OFF   leave it out
# On return PREFIX_FOUND is true when the way is built and PkgConfig::PREFIX is its target.
macro(modem_status_way option way prefix module help)
  set(${option} AUTO CACHE STRING "${help}: AUTO (when ${module} is found), ON (required) or OFF")
  set_property(CACHE ${option} PROPERTY STRINGS AUTO ON OFF)
  string(TOUPPER "${${option}}" _way_choice)
  # The boolean spellings an older cache or command line may carry.
  if(_way_choice MATCHES "^(ON|YES|TRUE|Y|1)$")
    set(_way_choice ON)
  elseif(_way_choice MATCHES "^(OFF|NO|FALSE|N|0)$")
    set(_way_choice OFF)
  elseif(NOT _way_choice STREQUAL "AUTO")
    message(FATAL_ERROR "${option} is '${${option}}': use AUTO, ON or OFF")
  endif()
  set(${prefix}_FOUND FALSE)
  if(NOT _way_choice STREQUAL "OFF")
    pkg_check_modules(${prefix} QUIET IMPORTED_TARGET ${module})
    if(NOT ${prefix}_FOUND AND _way_choice STREQUAL "ON")
      message(FATAL_ERROR "${option} is ON, but ${module} was not found for this build "
                          "(pkg-config: ${PKG_CONFIG_EXECUTABLE}, "
                          "PKG_CONFIG_LIBDIR: '$ENV{PKG_CONFIG_LIBDIR}'). "
                          "Install its development files or set ${option} to AUTO or OFF.")
    endif()
  endif()
  if(${prefix}_FOUND)
    message(STATUS "${way}: built (${module} ${${prefix}_VERSION}, ${option}=${_way_choice})")
    list(APPEND MODEM_STATUS_WAYS "${way}")
  elseif(_way_choice STREQUAL "OFF")
    message(STATUS "${way}: not built (${option}=OFF)")
  else()
    message(STATUS "${way}: not built (${module} not found, ${option}=AUTO)")
  endif()
  unset(_way_choice)
endmacro()

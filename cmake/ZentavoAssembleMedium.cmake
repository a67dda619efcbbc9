# cmake -DSOURCE=<medium> -DDESTINATION=<dir> -DFILES=<a|b@Sub/b.ext> [-DWINDOWS=ON]
#       -P ZentavoAssembleMedium.cmake
# Lays out a medium folder afresh: the files of the medium folder (without
# src/ and README.md), then the built FILES at its top, or at the relative
# path given after "@". With WINDOWS the simulation's own files stay out:
# .sim-files.json and the text stand-ins named *.exe, *.dll or *.ocx that are
# no Windows programs (beside setup.exe they would shadow the system's
# libraries of the same name).
foreach(required SOURCE DESTINATION)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "ZentavoAssembleMedium.cmake needs -D${required}=...")
  endif()
endforeach()

# True when the file is a Windows program: "MZ", and "PE\0\0" where the
# header's offset at 0x3C points.
function(zt_is_pe_file path result)
  set(${result} FALSE PARENT_SCOPE)
  file(SIZE ${path} size)
  if(size LESS 64)
    return()
  endif()
  file(READ ${path} magic LIMIT 2 HEX)
  file(READ ${path} offset_hex OFFSET 60 LIMIT 4 HEX)
  if(NOT magic STREQUAL "4d5a")
    return()
  endif()
  # Little-endian 32 bits to a number.
  string(SUBSTRING ${offset_hex} 0 2 b0)
  string(SUBSTRING ${offset_hex} 2 2 b1)
  string(SUBSTRING ${offset_hex} 4 2 b2)
  math(EXPR offset "0x${b0} + 0x${b1} * 256 + 0x${b2} * 65536")
  if(offset GREATER size)
    return()
  endif()
  file(READ ${path} signature OFFSET ${offset} LIMIT 4 HEX)
  if(signature STREQUAL "50450000")
    set(${result} TRUE PARENT_SCOPE)
  endif()
endfunction()

file(REMOVE_RECURSE ${DESTINATION})
file(MAKE_DIRECTORY ${DESTINATION})

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${SOURCE} ${SOURCE}/*)
foreach(relative IN LISTS files)
  if(relative MATCHES "^src/" OR relative STREQUAL "README.md")
    continue()
  endif()
  if(WINDOWS)
    if(relative STREQUAL ".sim-files.json")
      continue()
    endif()
    if(relative MATCHES "\\.([eE][xX][eE]|[dD][lL][lL]|[oO][cC][xX])$")
      zt_is_pe_file(${SOURCE}/${relative} is_pe)
      if(NOT is_pe)
        continue()
      endif()
    endif()
  endif()
  get_filename_component(folder ${DESTINATION}/${relative} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  file(COPY_FILE ${SOURCE}/${relative} ${DESTINATION}/${relative})
endforeach()

string(REPLACE "|" ";" built_files "${FILES}")
foreach(entry IN LISTS built_files)
  if(entry MATCHES "^(.*)@(.*)$")
    set(built ${CMAKE_MATCH_1})
    set(relative ${CMAKE_MATCH_2})
  else()
    set(built ${entry})
    get_filename_component(relative ${entry} NAME)
  endif()
  get_filename_component(folder ${DESTINATION}/${relative} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  file(COPY_FILE ${built} ${DESTINATION}/${relative})
endforeach()

# The manifest beside setup.exe: one line per file the setup uses, in the
# form sha256sum writes and checks ("<digest>  <relative name>"). The setup
# checks every file it names before using any of them; an administrator
# checks a copied share with `sha256sum -c medium.sha` in its folder.
file(GLOB_RECURSE laid_out LIST_DIRECTORIES false RELATIVE ${DESTINATION} ${DESTINATION}/*)
list(REMOVE_ITEM laid_out medium.sha .sim-files.json)
list(SORT laid_out)
set(manifest "")
foreach(relative IN LISTS laid_out)
  file(SHA256 ${DESTINATION}/${relative} digest)
  string(APPEND manifest "${digest}  ${relative}\n")
endforeach()
file(WRITE ${DESTINATION}/medium.sha "${manifest}")

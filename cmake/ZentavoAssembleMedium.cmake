# cmake -DSOURCE=<medium> -DDESTINATION=<dir> -DFILES=<a|b> [-DWINDOWS=ON]
#       -P ZentavoAssembleMedium.cmake
# Copies the files of the medium folder (without src/) into DESTINATION and
# the built FILES to its top. Without WINDOWS the destination is emptied
# first, so a file removed from the medium leaves it too. With WINDOWS the
# destination keeps what is there, and the simulation's own files stay out:
# .sim-files.json and the text stand-ins named *.exe, *.dll or *.ocx (beside
# setup.exe they would shadow the system's libraries of the same name).
foreach(required SOURCE DESTINATION)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "ZentavoAssembleMedium.cmake needs -D${required}=...")
  endif()
endforeach()

if(NOT WINDOWS)
  file(REMOVE_RECURSE ${DESTINATION})
endif()
file(MAKE_DIRECTORY ${DESTINATION})

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${SOURCE} ${SOURCE}/*)
foreach(relative IN LISTS files)
  if(relative MATCHES "^src/")
    continue()
  endif()
  if(WINDOWS)
    if(relative STREQUAL ".sim-files.json")
      continue()
    endif()
    if(relative MATCHES "\\.([eE][xX][eE]|[dD][lL][lL]|[oO][cC][xX])$")
      file(READ ${SOURCE}/${relative} magic LIMIT 2 HEX)
      if(NOT magic STREQUAL "4d5a")
        continue()
      endif()
    endif()
  endif()
  get_filename_component(folder ${DESTINATION}/${relative} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  file(COPY_FILE ${SOURCE}/${relative} ${DESTINATION}/${relative} ONLY_IF_DIFFERENT)
endforeach()

string(REPLACE "|" ";" built_files "${FILES}")
foreach(built IN LISTS built_files)
  get_filename_component(name ${built} NAME)
  file(COPY_FILE ${built} ${DESTINATION}/${name} ONLY_IF_DIFFERENT)
endforeach()

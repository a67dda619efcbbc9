# The stand-in product's package: Zentavo.msi built with wixl from
# medium/src/package/Zentavo.wxs, and its language transforms written by
# zentavo-mkmst from the difference between the package and a copy edited
# with msibuild (languages in medium/src/package/languages.tsv).

set(ZT_PACKAGE_SOURCE_DIR ${CMAKE_SOURCE_DIR}/medium/src/package)
set(ZT_PRODUCT_VERSION "2.1.240" CACHE STRING
  "Version of the stand-in product (three fields): ProductVersion of Zentavo.msi, FileVersion of Zentavo.exe")
set(ZT_EARLIER_PRODUCT_VERSION "2.0.180" CACHE STRING
  "Version of the earlier 2.x build of the stand-in package that the upgrade rehearsals install first")

find_program(ZT_WIXL wixl)
find_program(ZT_MSIBUILD msibuild)

# zt_version_fields(<version> <prefix>): <prefix>_MAJOR, _MINOR, _BUILD and
# <prefix>_DISPLAY (major.minor) in the caller's scope.
function(zt_version_fields version prefix)
  if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "product version \"${version}\" is not three numbers such as 2.1.240")
  endif()
  set(${prefix}_MAJOR ${CMAKE_MATCH_1} PARENT_SCOPE)
  set(${prefix}_MINOR ${CMAKE_MATCH_2} PARENT_SCOPE)
  set(${prefix}_BUILD ${CMAKE_MATCH_3} PARENT_SCOPE)
  set(${prefix}_DISPLAY "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}" PARENT_SCOPE)
endfunction()

# zt_add_package(OUTPUT <msi> ARCH <x86|x64> PROGRAM <Zentavo.exe to package>
#                VERSION <a.b.c> [DEPENDS <targets or files>...])
# wixl 0.101 leaves the File table's Version empty (it reads no version
# resources and knows no DefaultVersion), so the Version of Zentavo.exe, the
# product version with a fourth field 0, is written right after with msibuild.
function(zt_add_package)
  cmake_parse_arguments(P "" "OUTPUT;ARCH;PROGRAM;VERSION" "DEPENDS" ${ARGN})
  if(NOT ZT_WIXL OR NOT ZT_MSIBUILD)
    message(FATAL_ERROR "building Zentavo.msi needs wixl and msibuild (Debian: wixl, msitools)")
  endif()
  zt_version_fields(${P_VERSION} V)
  get_filename_component(out_dir ${P_OUTPUT} DIRECTORY)
  set(stage ${out_dir}/stage)
  file(MAKE_DIRECTORY ${stage})  # the command's working directory
  set(arch_option)
  set(template "Intel$<SEMICOLON>1033")
  if(P_ARCH STREQUAL "x64")
    set(arch_option -a x64)
    set(template "x64$<SEMICOLON>1033")
  endif()
  # The package code (the summary's revision number) names one package: wixl
  # draws a new one for every build, so the same package of the same version
  # is given the same code, made from its version and processor, and Windows
  # Installer's registration of it (PackageCode) is the same in every build.
  string(UUID package_code NAMESPACE 3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93
         NAME "Zentavo.msi ${P_ARCH} ${P_VERSION}" TYPE SHA1 UPPER)
  add_custom_command(OUTPUT ${P_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -E copy ${P_PROGRAM} ${stage}/Zentavo.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${ZT_PACKAGE_SOURCE_DIR}/Zentavo.mdb ${stage}/Zentavo.mdb
    COMMAND ${ZT_WIXL} ${arch_option} -D Arch=${P_ARCH} -D ProductVersion=${P_VERSION}
            -D DisplayVersion=${V_DISPLAY} -o ${P_OUTPUT}.new ${ZT_PACKAGE_SOURCE_DIR}/Zentavo.wxs
    COMMAND ${ZT_MSIBUILD} ${P_OUTPUT}.new
            -s "Zentavo ${V_DISPLAY}" "Corvane" "${template}" "{${package_code}}"
    COMMAND ${ZT_MSIBUILD} ${P_OUTPUT}.new
            -q "UPDATE `File` SET `Version` = '${P_VERSION}.0' WHERE `File` = 'ZentavoExe'"
    COMMAND ${CMAKE_COMMAND} -E rename ${P_OUTPUT}.new ${P_OUTPUT}
    WORKING_DIRECTORY ${stage}
    DEPENDS ${ZT_PACKAGE_SOURCE_DIR}/Zentavo.wxs ${ZT_PACKAGE_SOURCE_DIR}/Zentavo.mdb
            ${P_PROGRAM} ${P_DEPENDS}
    COMMENT "Building ${P_OUTPUT} (${P_ARCH}, ${P_VERSION})"
    VERBATIM)
endfunction()

# zt_add_transforms(BASE <msi> DIRECTORY <dir> TOOL <zentavo-mkmst path>
#                   OUTPUTS <variable> [DEPENDS ...])
# One <language id>.mst per line of languages.tsv in DIRECTORY; the list of
# their paths goes to <variable>.
function(zt_add_transforms)
  cmake_parse_arguments(P "" "BASE;DIRECTORY;TOOL;OUTPUTS" "DEPENDS" ${ARGN})
  set(languages ${ZT_PACKAGE_SOURCE_DIR}/languages.tsv)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${languages})
  file(STRINGS ${languages} lines ENCODING UTF-8)
  set(outputs)
  foreach(line IN LISTS lines)
    if(line MATCHES "^#" OR line STREQUAL "")
      continue()
    endif()
    if(NOT line MATCHES "^([0-9]+)\t(.+)$")
      message(FATAL_ERROR "${languages}: \"${line}\" is not <language id> TAB <display name>")
    endif()
    set(id ${CMAKE_MATCH_1})
    set(name ${CMAKE_MATCH_2})
    set(edited ${P_DIRECTORY}/edited/${id}.msi)
    set(mst ${P_DIRECTORY}/${id}.mst)
    add_custom_command(OUTPUT ${mst}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${P_DIRECTORY}/edited
      COMMAND ${CMAKE_COMMAND} -E copy ${P_BASE} ${edited}
      COMMAND ${ZT_MSIBUILD} ${edited}
              -q "UPDATE `Property` SET `Value` = '${id}' WHERE `Property` = 'ProductLanguage'"
              -q "UPDATE `Property` SET `Value` = '${name}' WHERE `Property` = 'LANGUAGEDATA'"
      COMMAND ${P_TOOL} ${P_BASE} ${edited} ${mst}
      DEPENDS ${P_BASE} ${P_TOOL} ${languages} ${P_DEPENDS}
      COMMENT "Writing the transform ${mst}"
      VERBATIM)
    list(APPEND outputs ${mst})
  endforeach()
  set(${P_OUTPUTS} ${outputs} PARENT_SCOPE)
endfunction()

# zt_add_medium(<target> DESTINATION <dir> FILES <built file>[@<relative path>]...
#               [WINDOWS] [ALL] [DEPENDS ...])
# Lays out a medium folder afresh: the files of medium/ (without src/), then
# the built files at its top (or at the relative path after "@"). A Windows
# medium (WINDOWS) takes neither .sim-files.json nor the text stand-ins that
# carry a program's or library's name.
function(zt_add_medium target)
  cmake_parse_arguments(P "WINDOWS;ALL" "DESTINATION" "FILES;DEPENDS" ${ARGN})
  file(GLOB_RECURSE medium_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/medium/*)
  list(FILTER medium_files EXCLUDE REGEX "^${CMAKE_SOURCE_DIR}/medium/src/")
  set(windows OFF)
  if(P_WINDOWS)
    set(windows ON)
  endif()
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.stamp)
  # The list travels as one argument, its items joined by "|".
  string(REPLACE ";" "|" files_argument "${P_FILES}")
  set(built_depends)
  foreach(entry IN LISTS P_FILES)
    string(REGEX REPLACE "@[^@]*$" "" built "${entry}")
    list(APPEND built_depends "${built}")
  endforeach()
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_SOURCE_DIR}/medium -DDESTINATION=${P_DESTINATION}
            "-DFILES=${files_argument}" -DWINDOWS=${windows}
            -P ${CMAKE_SOURCE_DIR}/cmake/ZentavoAssembleMedium.cmake
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${medium_files} ${built_depends} ${P_DEPENDS} ${CMAKE_SOURCE_DIR}/cmake/ZentavoAssembleMedium.cmake
    COMMENT "Laying out the medium ${P_DESTINATION}"
    VERBATIM)
  if(P_ALL)
    add_custom_target(${target} ALL DEPENDS ${stamp})
  else()
    add_custom_target(${target} DEPENDS ${stamp})
  endif()
endfunction()

# Makes the MSI or the zip from a folder laid out as installed (bin, include, lib, doc). Run
# through <tree>/package/make.cmake, which sets:
#   QK42RT_PACKAGE_KIND     msi, zip, or empty for both
#   QK42RT_PACKAGE_VERSION  major.minor.build[.revision]
#   QK42RT_PACKAGE_STAGE    the folder to package
#   QK42RT_PACKAGE_OUT      where the packages go
#   QK42RT_PACKAGE_ARCH     x64 or x86
#   QK42RT_UPGRADE_CODE     the architecture's fixed upgrade code
#
# wixl writes the MSI from a .wxs generated here, one component a file. Two things it cannot
# say are added to its database afterwards with msibuild: the system PATH entry (wixl knows no
# Environment element) and the replacement of an installed package of the same version.
cmake_minimum_required(VERSION 3.20)

set(version ${QK42RT_PACKAGE_VERSION})
set(arch ${QK42RT_PACKAGE_ARCH})
set(stage ${QK42RT_PACKAGE_STAGE})
set(out ${QK42RT_PACKAGE_OUT})

# Windows Installer keeps a version as major.minor.build[.revision], at most
# 255.255.65535.65535, and compares only the first three fields when it decides whether a
# package is newer.
if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)(\\.([0-9]+))?$")
  message(FATAL_ERROR "package version '${version}' is not major.minor.build[.revision]")
endif()
foreach(field 1 2 3 5)
  set(limit 65535)
  if(field LESS 3)
    set(limit 255)
  endif()
  string(LENGTH "${CMAKE_MATCH_${field}}" digits)
  if(digits GREATER 5 OR CMAKE_MATCH_${field} GREATER limit)
    message(FATAL_ERROR "package version '${version}': ${CMAKE_MATCH_${field}} is above ${limit}")
  endif()
endforeach()
if(NOT arch MATCHES "^(x64|x86)$")
  message(FATAL_ERROR "package architecture '${arch}' is neither x64 nor x86")
endif()
if(NOT IS_DIRECTORY "${stage}/bin")
  message(FATAL_ERROR "nothing to package: ${stage}/bin does not exist")
endif()
file(MAKE_DIRECTORY ${out})

function(xml_escaped out_var text)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  string(REPLACE "\"" "&quot;" text "${text}")
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# An identifier the MSI tables accept (72 characters at most), stable for a path.
function(row_id out_var prefix path)
  string(SHA1 hash "${path}")
  string(SUBSTRING ${hash} 0 24 hash)
  set(${out_var} ${prefix}${hash} PARENT_SCOPE)
endfunction()

# Sets child_xml to the .wxs text of what the folder REL (relative to the install folder)
# holds, its files and folders, indented DEPTH levels. wixl derives each component's GUID
# from its path, so a file keeps its component from version to version.
function(directory_xml rel depth)
  string(REPEAT "  " ${depth} indent)
  set(xml "")
  file(GLOB entries RELATIVE ${stage}/${rel} ${stage}/${rel}/*)
  list(SORT entries)
  foreach(name IN LISTS entries)
    set(path ${rel}/${name})
    string(REGEX REPLACE "^/" "" path "${path}")
    xml_escaped(xml_name "${name}")
    if(IS_DIRECTORY ${stage}/${path})
      row_id(id d "${path}")
      string(APPEND xml "${indent}<Directory Id=\"${id}\" Name=\"${xml_name}\">\n")
      math(EXPR deeper "${depth} + 1")
      directory_xml("${path}" ${deeper})
      string(APPEND xml "${child_xml}${indent}</Directory>\n")
    else()
      row_id(component c "${path}")
      row_id(file f "${path}")
      xml_escaped(source "${path}")
      string(APPEND xml
             "${indent}<Component Id=\"${component}\" Guid=\"*\"${win64}>\n"
             "${indent}  <File Id=\"${file}\" Name=\"${xml_name}\" Source=\"${source}\""
             " KeyPath=\"yes\"/>\n${indent}</Component>\n")
      set_property(GLOBAL APPEND PROPERTY package_components ${component})
    endif()
  endforeach()
  set(child_xml "${xml}" PARENT_SCOPE)
endfunction()

function(build_msi)
  # The PATH entry is a component of its own, in the install folder itself: Windows Installer
  # then knows that folder as one of the package's and takes it away at uninstall (Wine
  # removes only the folders of components and those below them). Its GUID stays the same
  # from version to version.
  string(UUID path_guid NAMESPACE ${QK42RT_UPGRADE_CODE} NAME "PATH entry" TYPE SHA1 UPPER)
  find_program(wixl wixl)
  find_program(msibuild msibuild)
  if(NOT wixl OR NOT msibuild)
    message(FATAL_ERROR "the MSI needs wixl and msibuild (Debian packages wixl and msitools)")
  endif()
  if(arch STREQUAL x64)
    set(program_files ProgramFiles64Folder)
    set(win64 " Win64=\"yes\"")
  else()
    set(program_files ProgramFilesFolder)
    set(win64 "")
  endif()
  # One product code a version and architecture: the same package built twice is the same
  # product, and any other version is another product of the same upgrade code.
  string(UUID product NAMESPACE ${QK42RT_UPGRADE_CODE} NAME "${arch} ${version}" TYPE SHA1 UPPER)

  set_property(GLOBAL PROPERTY package_components "")
  directory_xml("" 5)
  get_property(components GLOBAL PROPERTY package_components)
  set(refs "")
  foreach(component IN LISTS components)
    string(APPEND refs "      <ComponentRef Id=\"${component}\"/>\n")
  endforeach()

  set(wxs ${out}/qk42rt-${arch}.wxs)
  file(WRITE ${wxs} "<?xml version=\"1.0\" encoding=\"utf-8\"?>
<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">
  <Product Id=\"${product}\" Name=\"QK42RT (${arch})\" Language=\"1033\"
           Version=\"${version}\" Manufacturer=\"QK42RT team\"
           UpgradeCode=\"${QK42RT_UPGRADE_CODE}\">
    <Package InstallerVersion=\"200\" Compressed=\"yes\" InstallScope=\"perMachine\"
             Description=\"QK42RT driver, client and simulator for the QK42 flow instrument\"/>
    <MajorUpgrade DowngradeErrorMessage=\"A newer version of QK42RT is already installed.\"/>
    <Media Id=\"1\" Cabinet=\"qk42rt.cab\" EmbedCab=\"yes\"/>
    <Property Id=\"ARPNOMODIFY\" Value=\"1\"/>
    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">
      <Directory Id=\"${program_files}\">
        <Directory Id=\"INSTALLDIR\" Name=\"QK42RT\">
          <Component Id=\"PathEntry\" Guid=\"${path_guid}\"${win64}>
            <CreateFolder/>
          </Component>
${child_xml}        </Directory>
      </Directory>
    </Directory>
    <Feature Id=\"Complete\" Title=\"QK42RT\" Level=\"1\">
      <ComponentRef Id=\"PathEntry\"/>
${refs}    </Feature>
  </Product>
</Wix>
")

  set(msi ${out}/qk42rt-${arch}.msi)
  set(building ${msi}.part)
  file(REMOVE ${building})
  # wixl takes only relative sources, and finds them from where it runs.
  execute_process(COMMAND ${wixl} --arch ${arch} -o ${building} ${wxs} WORKING_DIRECTORY ${stage}
                  RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "wixl failed (${status}):\n${errors}")
  endif()

  # bin on the system PATH: "=" sets the variable at install, "-" takes our part out again at
  # uninstall, "*" makes it the machine's variable; "[~];" appends to what is there.
  set(idt ${out}/Environment.idt)
  file(WRITE ${idt} "Environment\tName\tValue\tComponent_\ns72\tl255\tL255\ts72\n"
                    "Environment\tEnvironment\nPathBin\t=-*PATH\t[~];[INSTALLDIR]bin\tPathEntry\n")
  # wixl's sequence runs neither environment action: add them where Windows Installer's
  # standard sequence has them.
  set(insert "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES")
  set(remove_action "${insert} ('RemoveEnvironmentStrings', 3300)")
  set(write_action "${insert} ('WriteEnvironmentStrings', 5200)")
  # MajorUpgrade replaces only strictly older versions, and Windows Installer compares three
  # fields, so a 1.0.0.2 over an installed 1.0.0.1 would install a second product beside it.
  # Its detect row is written again with the maximum taken in (513: migrate features, maximum
  # inclusive), so the same version replaces the installed one too; a lower one is refused.
  set(upgrade_idt ${out}/Upgrade.idt)
  set(code "{${QK42RT_UPGRADE_CODE}}")
  file(WRITE ${upgrade_idt}
       "UpgradeCode\tVersionMin\tVersionMax\tLanguage\tAttributes\tRemove\tActionProperty\n"
       "s38\tS20\tS20\tS255\ti4\tS255\ts72\n"
       "Upgrade\tUpgradeCode\tVersionMin\tVersionMax\tLanguage\tAttributes\n"
       "${code}\t\t${version}\t\t513\t\tWIX_UPGRADE_DETECTED\n"
       "${code}\t${version}\t\t\t2\t\tWIX_DOWNGRADE_DETECTED\n")
  execute_process(COMMAND ${msibuild} ${building} -i ${idt} -i ${upgrade_idt} -q ${remove_action}
                          -q ${write_action}
                  RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "msibuild failed (${status}):\n${errors}")
  endif()
  file(REMOVE ${idt} ${upgrade_idt})
  file(RENAME ${building} ${msi})
  message(STATUS "MSI: ${msi} (version ${version}, product {${product}})")
endfunction()

function(build_zip)
  # One top folder in the zip, so unpacking it spills nothing beside it.
  set(top qk42rt-${version}-${arch})
  set(work ${out}/zip.work)
  file(REMOVE_RECURSE ${work})
  file(MAKE_DIRECTORY ${work})
  file(COPY ${stage}/ DESTINATION ${work}/${top})
  set(zip ${out}/${top}.zip)
  file(REMOVE ${zip})
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip ${top}
                  WORKING_DIRECTORY ${work} RESULT_VARIABLE status)
  file(REMOVE_RECURSE ${work})
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "zipping ${stage} failed (${status})")
  endif()
  message(STATUS "zip: ${zip}")
endfunction()

if(QK42RT_PACKAGE_KIND STREQUAL "" OR QK42RT_PACKAGE_KIND STREQUAL msi)
  build_msi()
endif()
if(QK42RT_PACKAGE_KIND STREQUAL "" OR QK42RT_PACKAGE_KIND STREQUAL zip)
  build_zip()
endif()
if(NOT QK42RT_PACKAGE_KIND MATCHES "^(|msi|zip)$")
  message(FATAL_ERROR "QK42RT_PACKAGE_KIND is msi, zip or empty, not '${QK42RT_PACKAGE_KIND}'")
endif()

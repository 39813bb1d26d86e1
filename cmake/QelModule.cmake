# How the module is described and built: each library folder declares its units
# (and its constructor, if it has one); the module names its entry routine and
# the libraries it links. Both builds compile exactly these sources.

define_property(GLOBAL PROPERTY QEL_LIBRARIES BRIEF_DOCS "library units of the module" FULL_DOCS "-")

# qel_library(Name SOURCES a.cpp ... [FIRMWARE_SOURCES c.cpp ...] [CONSTRUCTOR Routine])
function(qel_library Name)
  cmake_parse_arguments(PARSE_ARGV 1 Arg "" "CONSTRUCTOR" "SOURCES;FIRMWARE_SOURCES")
  list(TRANSFORM Arg_SOURCES PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/")
  list(TRANSFORM Arg_FIRMWARE_SOURCES PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/")
  set_property(GLOBAL APPEND PROPERTY QEL_LIBRARIES ${Name})
  set_property(GLOBAL PROPERTY QEL_LIBRARY_${Name}_SOURCES ${Arg_SOURCES})
  set_property(GLOBAL PROPERTY QEL_LIBRARY_${Name}_FIRMWARE_SOURCES ${Arg_FIRMWARE_SOURCES})
  set_property(GLOBAL PROPERTY QEL_LIBRARY_${Name}_CONSTRUCTOR "${Arg_CONSTRUCTOR}")
endfunction()

# qel_module(Name FILE_GUID Guid VERSION Text ENTRY_POINT Routine [PUBLISHES Header]
#            SOURCES a.cpp ... LIBRARIES Lib ...)
# Generates AutoGen.cpp: the constructor list in library order, then the entry.
# PUBLISHES names the public header of the PPI the module installs; its
# "// {GUID}" line becomes QEL_MODULE_<Name>_PPI_GUID, for dependency
# expressions and manifests.
function(qel_module Name)
  cmake_parse_arguments(PARSE_ARGV 1 Arg "" "FILE_GUID;VERSION;ENTRY_POINT;PUBLISHES" "SOURCES;LIBRARIES")
  set(Hex4 "[0-9A-F][0-9A-F][0-9A-F][0-9A-F]")
  set(Guid "${Hex4}${Hex4}-${Hex4}-${Hex4}-${Hex4}-${Hex4}${Hex4}${Hex4}")
  if(NOT Arg_FILE_GUID MATCHES "^${Guid}$" OR NOT Arg_VERSION)
    message(FATAL_ERROR "module ${Name} needs a FILE_GUID (upper-case registry format) and a VERSION")
  endif()
  set_property(GLOBAL PROPERTY QEL_MODULE_${Name}_FILE_GUID ${Arg_FILE_GUID})
  if(Arg_PUBLISHES)
    file(STRINGS "${PROJECT_SOURCE_DIR}/${Arg_PUBLISHES}" PpiGuidLine REGEX "^// {${Guid}}$")
    if(NOT PpiGuidLine)
      message(FATAL_ERROR "${Arg_PUBLISHES}: no '// {GUID}' line (upper-case registry format) for the PPI's GUID")
    endif()
    string(REGEX REPLACE "^// {(.*)}$" "\\1" PpiGuid "${PpiGuidLine}")
    set_property(GLOBAL PROPERTY QEL_MODULE_${Name}_PPI_GUID ${PpiGuid})
  endif()
  set_property(GLOBAL PROPERTY QEL_MODULE_${Name}_VERSION ${Arg_VERSION})
  list(TRANSFORM Arg_SOURCES PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/")
  set(QEL_AUTOGEN_ENTRY_POINT ${Arg_ENTRY_POINT})
  set(QEL_AUTOGEN_DECLARATIONS
      "EFI_STATUS ${Arg_ENTRY_POINT}(EFI_PEI_FILE_HANDLE FileHandle, const EFI_PEI_SERVICES** PeiServices);\n")
  set(QEL_AUTOGEN_CONSTRUCTOR_CALLS "")
  set(Units ${Arg_SOURCES})
  set(FirmwareUnits "")
  foreach(Library IN LISTS Arg_LIBRARIES)
    get_property(LibrarySources GLOBAL PROPERTY QEL_LIBRARY_${Library}_SOURCES)
    get_property(LibraryFirmwareSources GLOBAL PROPERTY QEL_LIBRARY_${Library}_FIRMWARE_SOURCES)
    get_property(Constructor GLOBAL PROPERTY QEL_LIBRARY_${Library}_CONSTRUCTOR)
    get_property(Declared GLOBAL PROPERTY QEL_LIBRARIES)
    if(NOT Library IN_LIST Declared)
      message(FATAL_ERROR "module ${Name} links ${Library}, which no folder declares")
    endif()
    list(APPEND Units ${LibrarySources})
    list(APPEND FirmwareUnits ${LibraryFirmwareSources})
    if(Constructor)
      string(APPEND QEL_AUTOGEN_DECLARATIONS
             "EFI_STATUS ${Constructor}(EFI_PEI_FILE_HANDLE FileHandle, const EFI_PEI_SERVICES** PeiServices);\n")
      string(APPEND QEL_AUTOGEN_CONSTRUCTOR_CALLS
             "  CheckStatus(${Constructor}(FileHandle, PeiServices), ConstructorSucceeded);\n")
    endif()
  endforeach()
  set(AutoGen "${CMAKE_BINARY_DIR}/AutoGen/${Name}/AutoGen.cpp")
  configure_file("${PROJECT_SOURCE_DIR}/Library/PeimEntryPoint/AutoGen.cpp.in" "${AutoGen}" @ONLY)
  list(APPEND Units "${AutoGen}")
  set_property(GLOBAL PROPERTY QEL_MODULE_${Name}_UNITS ${Units})
  set_property(GLOBAL PROPERTY QEL_MODULE_${Name}_FIRMWARE_UNITS ${FirmwareUnits})
  set_property(GLOBAL PROPERTY QEL_MODULE_${Name}_INCLUDES "${CMAKE_CURRENT_SOURCE_DIR}")
endfunction()

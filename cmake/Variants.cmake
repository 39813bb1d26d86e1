# Every build of the module, listed once: the folder Variants/<Name> that
# holds its BuildSettings.h, and what builds it:
#   image    the firmware build links it into a checked PE32
#   host     the host build makes QelModule_<Name> for tests and benchmarks
#   runner   the board runner offers it under its name (or a short ALIAS), with a
#            line of DESCRIPTION
#            (implies host and image: the runner links the one and boots the other)
#   agree    the module's board scenarios run on its host build and on its image,
#            which must agree (implies host and image)
#   qemu     the firmware build boots it under QEMU
#   fuzz     fuzz targets are built against it
#   compile  only compiled: the build must refuse (or take) its device list
#
# qel_variant(Name BUILDS role... [ALIAS name DESCRIPTION text])
function(qel_variant Name)
  cmake_parse_arguments(PARSE_ARGV 1 Arg "" "ALIAS;DESCRIPTION" "BUILDS")
  set(Folder "${PROJECT_SOURCE_DIR}/Variants/${Name}")
  if(NOT EXISTS "${Folder}/BuildSettings.h")
    message(FATAL_ERROR "variant ${Name}: no ${Folder}/BuildSettings.h")
  endif()
  foreach(Role IN LISTS Arg_BUILDS)
    if(NOT Role MATCHES "^(image|host|runner|agree|qemu|fuzz|compile)$")
      message(FATAL_ERROR "variant ${Name}: unknown role '${Role}'")
    endif()
  endforeach()
  if(("runner" IN_LIST Arg_BUILDS) AND (NOT Arg_ALIAS OR NOT Arg_DESCRIPTION))
    message(FATAL_ERROR "variant ${Name}: a runner variant needs ALIAS and DESCRIPTION")
  endif()
  # What a role needs besides itself, decided here once: the roles that run
  # the module's host build or its image make both builds.
  set(Builds ${Arg_BUILDS})
  foreach(Role IN ITEMS agree runner)
    if(Role IN_LIST Arg_BUILDS)
      list(APPEND Builds host image)
    endif()
  endforeach()
  list(REMOVE_DUPLICATES Builds)
  set_property(GLOBAL APPEND PROPERTY QEL_VARIANTS ${Name})
  set_property(GLOBAL PROPERTY QEL_VARIANT_${Name}_SETTINGS "${Folder}")
  set_property(GLOBAL PROPERTY QEL_VARIANT_${Name}_BUILDS ${Builds})
  set_property(GLOBAL PROPERTY QEL_VARIANT_${Name}_ALIAS "${Arg_ALIAS}")
  set_property(GLOBAL PROPERTY QEL_VARIANT_${Name}_DESCRIPTION "${Arg_DESCRIPTION}")
endfunction()

# qel_variants_for(Role OutVar): the variants that Role builds, in table order.
function(qel_variants_for Role OutVar)
  get_property(All GLOBAL PROPERTY QEL_VARIANTS)
  set(Found "")
  foreach(Name IN LISTS All)
    get_property(Builds GLOBAL PROPERTY QEL_VARIANT_${Name}_BUILDS)
    if(Role IN_LIST Builds)
      list(APPEND Found ${Name})
    endif()
  endforeach()
  set(${OutVar} ${Found} PARENT_SCOPE)
endfunction()

# qel_variant_image_name(Name OutVar): the file name of the variant's image:
# QelVersionPei.efi for the shipped settings, QelVersionPei-<Name>.efi otherwise.
function(qel_variant_image_name Name OutVar)
  if(Name STREQUAL "Default")
    set(${OutVar} "QelVersionPei.efi" PARENT_SCOPE)
  else()
    set(${OutVar} "QelVersionPei-${Name}.efi" PARENT_SCOPE)
  endif()
endfunction()

# qel_variant_settings(Name OutVar): the folder of the variant's BuildSettings.h.
function(qel_variant_settings Name OutVar)
  get_property(Folder GLOBAL PROPERTY QEL_VARIANT_${Name}_SETTINGS)
  if(NOT Folder)
    message(FATAL_ERROR "no variant ${Name} in cmake/Variants.cmake")
  endif()
  set(${OutVar} "${Folder}" PARENT_SCOPE)
endfunction()

qel_variant(Default BUILDS image host runner agree qemu fuzz
            ALIAS default DESCRIPTION "the shipped image's settings: trap after each report")
qel_variant(Release BUILDS image host runner agree qemu
            ALIAS quiet DESCRIPTION "the release image's settings: checks and messages off")
qel_variant(DebugHalt BUILDS host runner agree qemu
            ALIAS halt DESCRIPTION "halt after each report, messages off")
qel_variant(DebugNoTrap BUILDS host runner agree
            ALIAS no-trap DESCRIPTION "checks and messages on, no trap")
qel_variant(Revision BUILDS host agree)
qel_variant(ModuleNoUart BUILDS host agree)
qel_variant(PrintStringLimits BUILDS host)
qel_variant(SerialMmio BUILDS host agree)
qel_variant(SerialMmioStride4 BUILDS host agree)
qel_variant(SerialStride4 BUILDS host agree)
qel_variant(SerialFlowControl BUILDS host runner agree
            ALIAS flow-control DESCRIPTION "hardware flow control: a peer with DSR and no CTS holds output")
qel_variant(SerialCableDetect BUILDS host agree fuzz)
qel_variant(SerialNoFifo BUILDS host agree)
qel_variant(SerialLargeFifo BUILDS host agree)
qel_variant(PciIoBus0 BUILDS host agree)
qel_variant(PciIoOneBridge BUILDS host runner agree
            ALIAS pci-bridge DESCRIPTION "UART as a PCI function behind a bridge")
qel_variant(PciIoTwoBridges BUILDS host fuzz)
qel_variant(PciMmioBus0 BUILDS host)
qel_variant(PciMmioOneBridge BUILDS host)
qel_variant(PciMmioTwoBridges BUILDS host runner agree fuzz
            ALIAS pci-mmio DESCRIPTION "memory-mapped PCI UART behind two bridges")
qel_variant(PciSerial BUILDS qemu)
qel_variant(PciRejectDevice BUILDS compile)
qel_variant(PciRejectFunction BUILDS compile)
qel_variant(PciRejectPowerMisaligned BUILDS compile)
qel_variant(PciRejectPowerExtended BUILDS compile)
qel_variant(PciRejectUnterminated BUILDS compile)
qel_variant(PciAcceptEdges BUILDS compile)
qel_variant(SettingMisspelt BUILDS compile)

# A folder that the table does not list would be a variant nobody builds.
file(GLOB VariantFolders LIST_DIRECTORIES true RELATIVE "${PROJECT_SOURCE_DIR}/Variants" "${PROJECT_SOURCE_DIR}/Variants/*")
get_property(ListedVariants GLOBAL PROPERTY QEL_VARIANTS)
foreach(Folder IN LISTS VariantFolders)
  if(NOT Folder IN_LIST ListedVariants)
    message(FATAL_ERROR "Variants/${Folder} is not listed in cmake/Variants.cmake")
  endif()
  # A plain declaration would compile under a misspelt name and quietly leave
  # the default in force.
  file(STRINGS "${PROJECT_SOURCE_DIR}/Variants/${Folder}/BuildSettings.h" Plain REGEX "^[ \t]*(inline[ \t]+)?constexpr")
  if(Plain)
    message(FATAL_ERROR "Variants/${Folder}/BuildSettings.h: declare each setting with QEL_OVERRIDE or "
                        "QEL_OVERRIDE_LIST (Include/DefaultSettings.h), not as '${Plain}'")
  endif()
endforeach()

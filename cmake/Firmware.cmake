# The PE32 image: the module's units compiled freestanding for i686 and linked
# by lld-link with no runtime library, so any compiler helper fails the link.
get_property(Units GLOBAL PROPERTY QEL_MODULE_QelVersionPei_UNITS)
get_property(FirmwareUnits GLOBAL PROPERTY QEL_MODULE_QelVersionPei_FIRMWARE_UNITS)
get_property(ModuleIncludes GLOBAL PROPERTY QEL_MODULE_QelVersionPei_INCLUDES)

# The image is optimised for size whatever the build type: the flags here
# define it, so that every build of it is the same image. The objects carry
# DWARF, which the shipped link drops (the image is the same byte for byte as
# without it) and the debug link keeps. Calls stay calls rather than jumps, so
# that a debugger's backtrace shows every step from ModuleEntry down.
set(QEL_FIRMWARE_COMPILE_OPTIONS
  -Os -gdwarf -mllvm -dwarf-linkage-names=Abstract -fno-optimize-sibling-calls -fno-omit-frame-pointer -ffreestanding -fno-builtin -nostdlib -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-stack-protector -mno-stack-arg-probe -mno-sse -mno-mmx -mno-80387
  -fno-unwind-tables -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections
  -Wall -Wextra -Werror -Wglobal-constructors -Wexit-time-destructors)

# DWARF names the sources and the build folder by where they lie: mapped to
# the checkout's root, and the sources named relative to the build folder (see
# cmake/relative-source.sh), the debug images are the same from any checkout
# path.
list(APPEND QEL_FIRMWARE_COMPILE_OPTIONS "-fdebug-prefix-map=${PROJECT_SOURCE_DIR}=.")
set(CMAKE_CXX_COMPILER_LAUNCHER bash "${PROJECT_SOURCE_DIR}/cmake/relative-source.sh")

# A figures build asks for each function's frame size (.su files beside the
# objects); it does not change the code.
option(QEL_STACK_USAGE "Write -fstack-usage files for the firmware objects" OFF)
if(QEL_STACK_USAGE)
  list(APPEND QEL_FIRMWARE_COMPILE_OPTIONS -fstack-usage)
endif()

set(QEL_FIRMWARE_LINK_OPTIONS
  /nologo /machine:x86 /subsystem:efi_boot_service_driver /entry:ModuleEntry
  /nodefaultlib /dll /base:0 /driver /align:32 /filealign:32 /opt:ref /opt:icf
  /merge:.rdata=.text /safeseh:no /debug:none /timestamp:0)

# The debug image: the same objects linked with DWARF kept in sections of its
# own. Its longer section table moves .text back by a few bytes, so the
# packing tool checks that the code is the same and tells a debugger where to
# load its symbols (qel_pack.py debug-offset).
list(TRANSFORM QEL_FIRMWARE_LINK_OPTIONS REPLACE "^/debug:none$" "/debug:dwarf" OUTPUT_VARIABLE QEL_DEBUG_LINK_OPTIONS)

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(QEL_PACK "${PROJECT_SOURCE_DIR}/cmake/qel_pack.py")

# qel_link_image(ImageTarget Image ObjectTarget): links the objects into a
# checked PE32 image with a map beside it, and into Image's .debug.efi twin,
# whose code and data must be the shipped image's own.
function(qel_link_image ImageTarget Image ObjectTarget)
  string(REGEX REPLACE "\\.efi$" ".map" Map "${Image}")
  string(REGEX REPLACE "\\.efi$" ".debug.efi" DebugImage "${Image}")
  add_custom_command(
    OUTPUT "${Image}" "${DebugImage}"
    COMMAND lld-link ${QEL_FIRMWARE_LINK_OPTIONS} "/map:${Map}" "/out:${Image}" $<TARGET_OBJECTS:${ObjectTarget}>
    COMMAND bash "${PROJECT_SOURCE_DIR}/Tools/check-image.sh" "${Image}"
    COMMAND lld-link ${QEL_DEBUG_LINK_OPTIONS} "/out:${DebugImage}" $<TARGET_OBJECTS:${ObjectTarget}>
    COMMAND "${Python3_EXECUTABLE}" "${QEL_PACK}" debug-offset --base 0x400000 "${Image}" "${DebugImage}" > /dev/null
    DEPENDS ${ObjectTarget} $<TARGET_OBJECTS:${ObjectTarget}> "${PROJECT_SOURCE_DIR}/Tools/check-image.sh" "${QEL_PACK}"
    COMMAND_EXPAND_LISTS
    COMMENT "Linking and checking ${Image} and its debug twin")
  add_custom_target(${ImageTarget} ALL DEPENDS "${Image}")
endfunction()

# qel_firmware_image(ObjectTarget ImageTarget Variant Image): the module built
# with the variant's BuildSettings.h.
function(qel_firmware_image ObjectTarget ImageTarget Variant Image)
  qel_variant_settings(${Variant} SettingsDir)
  add_library(${ObjectTarget} OBJECT ${Units} ${FirmwareUnits})
  target_include_directories(${ObjectTarget} PRIVATE
    "${PROJECT_SOURCE_DIR}/Include" "${SettingsDir}"
    "${PROJECT_SOURCE_DIR}/Platform/X86/Include" ${ModuleIncludes})
  target_compile_options(${ObjectTarget} PRIVATE ${QEL_FIRMWARE_COMPILE_OPTIONS})
  qel_link_image(${ImageTarget} "${Image}" ${ObjectTarget})
endfunction()

# qel_variant_image(Variant OutImage OutTarget): the image of a variant,
# built once whoever asks for it; the shipped settings make QelVersionPei.efi,
# every other variant QelVersionPei-<Variant>.efi.
function(qel_variant_image Variant OutImage OutTarget)
  qel_variant_image_name(${Variant} Name)
  set(Image "${CMAKE_BINARY_DIR}/${Name}")
  if(Variant STREQUAL "Default")
    set(Target QelVersionPeiImage)
  else()
    set(Target QelVersionPei${Variant}Image)
  endif()
  if(NOT TARGET ${Target})
    qel_firmware_image(Qel${Variant}Objects ${Target} ${Variant} "${Image}")
  endif()
  set(${OutImage} "${Image}" PARENT_SCOPE)
  set(${OutTarget} ${Target} PARENT_SCOPE)
endfunction()

# Images of every variant that ships, that the board runner boots in image
# mode, or whose board scenarios are compared with the host build.
qel_variants_for(image ImageVariants)
foreach(Variant IN LISTS ImageVariants)
  qel_variant_image(${Variant} Image Target)
endforeach()
qel_variant_image(Default QEL_IMAGE QelImageTarget)

# Packaging: each image as a PEIM firmware file (.ffs, the PE32 as linked) and
# in a firmware volume (.fv) with the PE32 rebased to where the volume puts it
# in flash. The rebased image and its address are kept beside the volume for
# the checks and the debugger.
include(cmake/FlashLayout.cmake)
get_property(QEL_MODULE_FILE_GUID GLOBAL PROPERTY QEL_MODULE_QelVersionPei_FILE_GUID)
get_property(QEL_MODULE_VERSION GLOBAL PROPERTY QEL_MODULE_QelVersionPei_VERSION)

# qel_package(Target Image ImageTarget Guid UiName Version Prefix OutVolume OutTarget [Depex]):
# Prefix.ffs, Prefix.fv, Prefix.rebased.efi and Prefix.rebase (the address);
# and the same image in TE form, flash being scarce where it executes in
# place: Prefix.te, Prefix-TE.ffs, Prefix-TE.fv, Prefix-TE.rebased.te and
# Prefix-TE.rebase (the TE's image base, where a debugger puts its symbols).
function(qel_package Target Image ImageTarget Guid UiName Version Prefix OutVolume OutTarget)
  set(Depex "TRUE END")
  if(ARGC GREATER 9)
    set(Depex "${ARGV9}")
  endif()
  set(Pack "${Python3_EXECUTABLE}" "${QEL_PACK}")
  set(File ffs --name ${Guid} --ui ${UiName} --version ${Version} --depex "${Depex}")
  set(Volume fv --base ${QEL_MODULE_VOLUME_BASE} --size ${QEL_MODULE_VOLUME_SIZE})
  add_custom_command(
    OUTPUT "${Prefix}.ffs" "${Prefix}.fv" "${Prefix}.rebased.efi" "${Prefix}.rebase"
    COMMAND ${Pack} ${File} --pe32 "${Image}" -o "${Prefix}.ffs"
    COMMAND ${Pack} ${Volume} --ffs "${Prefix}.ffs" --rebased-pe32 "${Prefix}.rebased.efi"
            --rebase-address "${Prefix}.rebase" -o "${Prefix}.fv"
    DEPENDS "${Image}" ${ImageTarget} "${QEL_PACK}"
    COMMENT "Packing ${Prefix}.ffs and .fv" VERBATIM)
  add_custom_command(
    OUTPUT "${Prefix}.te" "${Prefix}-TE.ffs" "${Prefix}-TE.fv" "${Prefix}-TE.rebased.te" "${Prefix}-TE.rebase"
    COMMAND ${Pack} te "${Image}" -o "${Prefix}.te"
    COMMAND ${Pack} ${File} --te "${Prefix}.te" -o "${Prefix}-TE.ffs"
    COMMAND ${Pack} ${Volume} --ffs "${Prefix}-TE.ffs" --rebased-pe32 "${Prefix}-TE.rebased.te"
            --rebase-address "${Prefix}-TE.rebase" -o "${Prefix}-TE.fv"
    DEPENDS "${Image}" ${ImageTarget} "${QEL_PACK}"
    COMMENT "Packing ${Prefix}.te, -TE.ffs and -TE.fv" VERBATIM)
  add_custom_target(${Target} ALL DEPENDS "${Prefix}.fv" "${Prefix}-TE.fv")
  set(${OutVolume} "${Prefix}.fv" PARENT_SCOPE)
  set(${OutTarget} ${Target} PARENT_SCOPE)
endfunction()

# qel_variant_package(Variant OutVolume OutTarget): the module's file and
# volume for a variant, QelVersionPei.ffs/.fv for the shipped settings.
function(qel_variant_package Variant OutVolume OutTarget)
  qel_variant_image(${Variant} Image ImageTarget)
  string(REGEX REPLACE "\\.efi$" "" Prefix "${Image}")
  set(Target ${ImageTarget}Package)
  if(NOT TARGET ${Target})
    qel_package(${Target} "${Image}" ${ImageTarget} ${QEL_MODULE_FILE_GUID} QelVersionPei ${QEL_MODULE_VERSION}
                "${Prefix}" Volume VolumeTarget)
  endif()
  set(${OutVolume} "${Prefix}.fv" PARENT_SCOPE)
  set(${OutTarget} ${Target} PARENT_SCOPE)
endfunction()

foreach(Variant IN LISTS ImageVariants)
  qel_variant_package(${Variant} Volume Target)
endforeach()

# The example module that consumes the PPI, outside the module's folder.
add_subdirectory("${PROJECT_SOURCE_DIR}/Examples/VersionConsumer" "${CMAKE_BINARY_DIR}/Examples/VersionConsumer")

# The PEI core and the flash images that QEMU boots with -bios.
add_subdirectory("${PROJECT_SOURCE_DIR}/Harness/Qemu" "${CMAKE_BINARY_DIR}/Harness/Qemu")

# What a release hands to an integrator.
include(cmake/Drop.cmake)

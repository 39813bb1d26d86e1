# The PE32 image: the module's units compiled freestanding for i686 and linked
# by lld-link with no runtime library, so any compiler helper fails the link.
get_property(Units GLOBAL PROPERTY QEL_MODULE_QelVersionPei_UNITS)
get_property(FirmwareUnits GLOBAL PROPERTY QEL_MODULE_QelVersionPei_FIRMWARE_UNITS)
get_property(ModuleIncludes GLOBAL PROPERTY QEL_MODULE_QelVersionPei_INCLUDES)

# The image is optimised for size whatever the build type: the flags here
# define it, so that every build of it is the same image.
set(QEL_FIRMWARE_COMPILE_OPTIONS
  -Os -ffreestanding -fno-builtin -nostdlib -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-stack-protector -mno-stack-arg-probe -mno-sse -mno-mmx -mno-80387
  -fno-unwind-tables -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections
  -Wall -Wextra -Werror -Wglobal-constructors -Wexit-time-destructors)

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

# qel_link_image(ImageTarget Image ObjectTarget): links the objects into a
# checked PE32 image with a map beside it.
function(qel_link_image ImageTarget Image ObjectTarget)
  string(REGEX REPLACE "\\.efi$" ".map" Map "${Image}")
  add_custom_command(
    OUTPUT "${Image}"
    COMMAND lld-link ${QEL_FIRMWARE_LINK_OPTIONS} "/map:${Map}" "/out:${Image}" $<TARGET_OBJECTS:${ObjectTarget}>
    COMMAND bash "${PROJECT_SOURCE_DIR}/Tools/check-image.sh" "${Image}"
    DEPENDS ${ObjectTarget} $<TARGET_OBJECTS:${ObjectTarget}> "${PROJECT_SOURCE_DIR}/Tools/check-image.sh"
    COMMAND_EXPAND_LISTS
    COMMENT "Linking and checking ${Image}")
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
qel_variants_for(runner RunnerVariants)
qel_variants_for(agree AgreeVariants)
list(APPEND ImageVariants ${RunnerVariants} ${AgreeVariants})
list(REMOVE_DUPLICATES ImageVariants)
foreach(Variant IN LISTS ImageVariants)
  qel_variant_image(${Variant} Image Target)
endforeach()
qel_variant_image(Default QEL_IMAGE QelImageTarget)

# The QEMU stand-in PEI Foundation that boots the images as a multiboot kernel.
add_subdirectory("${PROJECT_SOURCE_DIR}/Harness/Qemu" "${CMAKE_BINARY_DIR}/Harness/Qemu")

# The PE32 image: the module's units compiled freestanding for i686 and linked
# by lld-link with no runtime library, so any compiler helper fails the link.
get_property(Units GLOBAL PROPERTY QEL_MODULE_QelVersionPei_UNITS)
get_property(FirmwareUnits GLOBAL PROPERTY QEL_MODULE_QelVersionPei_FIRMWARE_UNITS)
get_property(ModuleIncludes GLOBAL PROPERTY QEL_MODULE_QelVersionPei_INCLUDES)

set(QEL_FIRMWARE_COMPILE_OPTIONS
  -ffreestanding -fno-builtin -nostdlib -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-stack-protector -mno-stack-arg-probe -mno-sse -mno-mmx -mno-80387
  -fno-unwind-tables -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections
  -Wall -Wextra -Werror -Wglobal-constructors -Wexit-time-destructors)

add_library(QelFirmwareObjects OBJECT ${Units} ${FirmwareUnits})
target_include_directories(QelFirmwareObjects PRIVATE
  "${PROJECT_SOURCE_DIR}/Include" "${PROJECT_SOURCE_DIR}/QelVersionPei/Settings"
  "${PROJECT_SOURCE_DIR}/Platform/X86/Include" ${ModuleIncludes})
target_compile_options(QelFirmwareObjects PRIVATE ${QEL_FIRMWARE_COMPILE_OPTIONS})

set(QEL_IMAGE "${CMAKE_BINARY_DIR}/QelVersionPei.efi")
add_custom_command(
  OUTPUT "${QEL_IMAGE}"
  COMMAND lld-link /nologo /machine:x86 /subsystem:efi_boot_service_driver /entry:ModuleEntry
          /nodefaultlib /dll /base:0 /driver /align:32 /filealign:32 /opt:ref /opt:icf
          /merge:.rdata=.text /safeseh:no /debug:none /timestamp:0
          "/map:${CMAKE_BINARY_DIR}/QelVersionPei.map" "/out:${QEL_IMAGE}"
          $<TARGET_OBJECTS:QelFirmwareObjects>
  COMMAND bash "${PROJECT_SOURCE_DIR}/Tools/check-image.sh" "${QEL_IMAGE}"
  DEPENDS QelFirmwareObjects $<TARGET_OBJECTS:QelFirmwareObjects> "${PROJECT_SOURCE_DIR}/Tools/check-image.sh"
  COMMAND_EXPAND_LISTS
  COMMENT "Linking and checking QelVersionPei.efi")
add_custom_target(QelVersionPeiImage ALL DEPENDS "${QEL_IMAGE}")

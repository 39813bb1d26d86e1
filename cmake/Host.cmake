# The host test bench: the module's units built for i686 Linux user space over
# the simulated board, once per settings variant.
set(QEL_HOST_WARNINGS -Wall -Wextra)
if(QEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  # The leak checker needs ptrace, which the user-mode emulator lacks: under it
  # every program would hang at exit.
  if(QEL_HOST_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR env ASAN_OPTIONS=detect_leaks=0 ${QEL_HOST_EMULATOR})
  endif()
endif()

# qel_module_variant(Variant): QelModule_<Variant> holds every unit of the
# module except the debug reporter, which is QelDebugLib_<Variant>, so unit
# tests can put a recording reporter in its place. The reporter is an object
# library: the module and the reporter call each other, and objects linked
# directly resolve that cycle without link groups.
function(qel_module_variant Variant)
  qel_variant_settings(${Variant} SettingsDir)
  get_property(Units GLOBAL PROPERTY QEL_MODULE_QelVersionPei_UNITS)
  get_property(ModuleIncludes GLOBAL PROPERTY QEL_MODULE_QelVersionPei_INCLUDES)
  get_property(DebugUnits GLOBAL PROPERTY QEL_LIBRARY_BaseDebugLibSerialPort_SOURCES)
  list(REMOVE_ITEM Units ${DebugUnits})
  set(Includes "${PROJECT_SOURCE_DIR}/Include" "${SettingsDir}" ${ModuleIncludes})
  add_library(QelModule_${Variant} STATIC ${Units})
  add_library(QelDebugLib_${Variant} OBJECT ${DebugUnits})
  foreach(Target QelModule_${Variant} QelDebugLib_${Variant})
    target_include_directories(${Target} PUBLIC ${Includes})
    target_compile_options(${Target} PRIVATE ${QEL_HOST_WARNINGS})
  endforeach()
  target_link_libraries(QelModule_${Variant} PUBLIC QelSim)
  target_link_libraries(QelDebugLib_${Variant} PUBLIC QelModule_${Variant})
  # Only the module's own units are counted; whatever links them takes the
  # gcov runtime.
  if(QEL_COVERAGE)
    foreach(Target QelModule_${Variant} QelDebugLib_${Variant})
      target_compile_options(${Target} PRIVATE --coverage)
      target_link_options(${Target} INTERFACE --coverage)
    endforeach()
  endif()
endfunction()

# Where the firmware preset put its images, for image mode (the runner's
# --image-mode and the tests that compare the host build with the image).
set(QEL_FIRMWARE_DIR "${PROJECT_SOURCE_DIR}/build/firmware"
    CACHE PATH "the firmware build folder whose QelVersionPei*.efi images image mode runs")

# Every variant that host tests, benchmarks or the board runner link.
qel_variants_for(host HostVariants)
foreach(Variant IN LISTS HostVariants)
  qel_module_variant(${Variant})
endforeach()

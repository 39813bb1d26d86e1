# Fuzz targets: libFuzzer programs for i686 with address and undefined
# sanitizers. The module units a target names are compiled for it with
# coverage instrumentation; libFuzzer's driver comes in at the link.
set(QEL_FUZZ_COMPILE_OPTIONS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                             -fno-omit-frame-pointer -g -Wall -Wextra)
set(QEL_FUZZ_LINK_OPTIONS -fsanitize=fuzzer,address,undefined)

# The simulated board, for targets whose units reach the instruction seam.
function(qel_fuzz_sim)
  if(TARGET QelFuzzSim)
    return()
  endif()
  file(GLOB Sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/Harness/Board/*.cpp")
  add_library(QelFuzzSim STATIC ${Sources} "${PROJECT_SOURCE_DIR}/Platform/Sim/Instructions.cpp")
  target_include_directories(QelFuzzSim PUBLIC "${PROJECT_SOURCE_DIR}/Harness/Board"
                                               "${PROJECT_SOURCE_DIR}/Platform/Sim/Include" "${PROJECT_SOURCE_DIR}/Include")
  target_compile_options(QelFuzzSim PRIVATE ${QEL_FUZZ_COMPILE_OPTIONS})
endfunction()

# qel_fuzz_target(Name VARIANT Variant SOURCES a.cpp ... LIBRARIES Lib ... [SIM])
# Builds the target's sources with the units of the named module libraries,
# compiled against the variant's settings, and the recording reporter
# (Tests/Support) in place of the debug reporter. The units go into an archive,
# so only those the target reaches are linked; SIM adds the simulated board for
# units that use the instruction seam. Tools/fuzz.sh runs every target listed
# in <build>/FuzzTargets.
function(qel_fuzz_target Name)
  cmake_parse_arguments(PARSE_ARGV 1 Arg "SIM" "VARIANT" "SOURCES;LIBRARIES")
  if(NOT Arg_VARIANT)
    message(FATAL_ERROR "qel_fuzz_target(${Name}): VARIANT <name from cmake/Variants.cmake> is required")
  endif()
  qel_variant_settings(${Arg_VARIANT} SettingsDir)
  set(Units "")
  foreach(Library IN LISTS Arg_LIBRARIES)
    get_property(Declared GLOBAL PROPERTY QEL_LIBRARIES)
    if(NOT Library IN_LIST Declared)
      message(FATAL_ERROR "qel_fuzz_target(${Name}): no folder declares library ${Library}")
    endif()
    get_property(LibrarySources GLOBAL PROPERTY QEL_LIBRARY_${Library}_SOURCES)
    list(APPEND Units ${LibrarySources})
  endforeach()
  set(Includes "${PROJECT_SOURCE_DIR}/Include" "${SettingsDir}" "${PROJECT_SOURCE_DIR}/Platform/Sim/Include")
  add_library(${Name}Units STATIC ${Units})
  target_include_directories(${Name}Units PUBLIC ${Includes})
  target_compile_options(${Name}Units PRIVATE ${QEL_FUZZ_COMPILE_OPTIONS})
  add_executable(${Name} ${Arg_SOURCES} "${PROJECT_SOURCE_DIR}/Tests/Support/RecordingDebugLib.cpp")
  target_include_directories(${Name} PRIVATE "${PROJECT_SOURCE_DIR}/Tests/Support")
  target_compile_options(${Name} PRIVATE ${QEL_FUZZ_COMPILE_OPTIONS})
  target_link_options(${Name} PRIVATE ${QEL_FUZZ_LINK_OPTIONS})
  target_link_libraries(${Name} PRIVATE ${Name}Units)
  if(Arg_SIM)
    qel_fuzz_sim()
    target_link_libraries(${Name}Units PUBLIC QelFuzzSim)
  endif()
  file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/FuzzTargets/${Name}"
       CONTENT "${QEL_HOST_EMULATOR} $<TARGET_FILE:${Name}>\n")
endfunction()

add_subdirectory(Tests/Fuzz)

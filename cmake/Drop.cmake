# The release drop: `cmake --install build/firmware --prefix DIR` lays out
# DIR/QelVersionPei-<version> with the default and release builds (PE32 and
# TE images, their .ffs and .fv with the image bases, the debug images), the
# release flash image for QEMU, the header a consumer needs, the example
# consumer, the integration guide, a manifest and SHA256SUMS.
# Tools/drop.sh builds what it needs, installs it and archives it.
set(QEL_DROP "QelVersionPei-${QEL_MODULE_VERSION}")
set(QEL_DROP_TOOL "${PROJECT_SOURCE_DIR}/cmake/qel_drop.py")
get_property(QEL_VERSION_PPI_GUID GLOBAL PROPERTY QEL_MODULE_QelVersionPei_PPI_GUID)

# An earlier install's files would otherwise join this one's manifest.
install(CODE "file(REMOVE_RECURSE \"\${CMAKE_INSTALL_PREFIX}/${QEL_DROP}\")")
foreach(Variant Default Release)
  qel_variant_image_name(${Variant} Name)
  string(REGEX REPLACE "\\.efi$" "" Prefix "${CMAKE_BINARY_DIR}/${Name}")
  install(FILES "${Prefix}.efi" "${Prefix}.te" "${Prefix}.debug.efi"
                "${Prefix}.ffs" "${Prefix}.fv" "${Prefix}.rebase"
                "${Prefix}-TE.ffs" "${Prefix}-TE.fv" "${Prefix}-TE.rebase"
          DESTINATION "${QEL_DROP}/${Variant}")
endforeach()
install(FILES "${CMAKE_BINARY_DIR}/QelVersion-Release.fd" DESTINATION "${QEL_DROP}/Qemu")
install(FILES "${PROJECT_SOURCE_DIR}/Include/Base.h" DESTINATION "${QEL_DROP}/Include")
install(FILES "${PROJECT_SOURCE_DIR}/Include/Ppi/VersionString.h" DESTINATION "${QEL_DROP}/Include/Ppi")
install(FILES "${PROJECT_SOURCE_DIR}/Examples/VersionConsumer/VersionConsumer.cpp"
        DESTINATION "${QEL_DROP}/Examples/VersionConsumer")
install(FILES "${PROJECT_SOURCE_DIR}/INTEGRATION.md" DESTINATION "${QEL_DROP}")
install(CODE "
  set(Drop \"\${CMAKE_INSTALL_PREFIX}/${QEL_DROP}\")
  execute_process(COMMAND \"${Python3_EXECUTABLE}\" \"${QEL_DROP_TOOL}\" manifest \"\${Drop}\"
                          --file-guid ${QEL_MODULE_FILE_GUID} --ppi-guid ${QEL_VERSION_PPI_GUID}
                          --module-version ${QEL_MODULE_VERSION} --volume-base ${QEL_MODULE_VOLUME_BASE}
                          --volume-size ${QEL_MODULE_VOLUME_SIZE}
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND \"${Python3_EXECUTABLE}\" \"${QEL_DROP_TOOL}\" sums \"\${Drop}\" COMMAND_ERROR_IS_FATAL ANY)
  message(STATUS \"Drop: \${Drop} (manifest.json, SHA256SUMS)\")")

# What the drop is made of, for Tools/drop.sh to build first.
add_custom_target(QelDropFiles DEPENDS QelVersionPeiImagePackage QelVersionPeiReleaseImagePackage QelFlashRelease)

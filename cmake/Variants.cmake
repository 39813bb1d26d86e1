# The shipped settings in the host build; test areas add the variants that
# reach behaviour these switch off (Tests/Settings/<Variant>).
qel_module_variant(Default "${PROJECT_SOURCE_DIR}/QelVersionPei/Settings")

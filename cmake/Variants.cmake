# Settings variants of the host build: the shipped defaults and the variants
# that reach behaviour the defaults switch off (Tests/Settings/<Variant>).
qel_module_variant(Default "${PROJECT_SOURCE_DIR}/QelVersionPei/Settings")
qel_module_variant(Revision "${PROJECT_SOURCE_DIR}/Tests/Settings/Revision")

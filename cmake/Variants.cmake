# The shipped settings and the variants that the board runner and more than
# one test area use; test areas add their own variants (Tests/Settings/<Variant>).
qel_module_variant(Default "${PROJECT_SOURCE_DIR}/QelVersionPei/Settings")
qel_module_variant(Revision "${PROJECT_SOURCE_DIR}/Tests/Settings/Revision")
qel_module_variant(DebugHalt "${PROJECT_SOURCE_DIR}/Tests/Settings/DebugHalt")
qel_module_variant(DebugQuiet "${PROJECT_SOURCE_DIR}/Tests/Settings/DebugQuiet")
qel_module_variant(DebugNoTrap "${PROJECT_SOURCE_DIR}/Tests/Settings/DebugNoTrap")

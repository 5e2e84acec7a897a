# Included by ui/CMakeLists.txt: the window decodes its artwork with libjpeg; the
# artwork (tools/mkskin) and the help file (assets/) are put beside the program so
# that it runs from the build tree.
find_package(JPEG REQUIRED)
target_link_libraries(velmora_ui PUBLIC JPEG::JPEG)
add_dependencies(velmora_ui skin_artwork velmora_help)

# Writes OUTPUT, a C++ source holding the PNG files of SOURCE_DIR (named by
# their image number, e.g. 104.png) as byte arrays with a lookup by number.
file(GLOB images "${SOURCE_DIR}/*.png")
list(SORT images)
set(arrays "")
set(entries "")
foreach(image ${images})
  get_filename_component(number "${image}" NAME_WE)
  file(READ "${image}" bytes HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
  string(APPEND arrays "const unsigned char image${number}[] = {${bytes}};\n")
  string(APPEND entries "    {${number}, image${number}, sizeof image${number}},\n")
endforeach()
file(WRITE "${OUTPUT}.tmp"
  "// Generated from resources/*.png at build time; do not edit.\n"
  "#include \"gui/toolkit/EmbeddedImages.h\"\n\nnamespace {\n${arrays}\n"
  "const EmbeddedImage kImages[] = {\n${entries}};\n} // namespace\n\n"
  "const EmbeddedImage* findEmbeddedImage(int id)\n{\n"
  "    for (const EmbeddedImage& image : kImages)\n        if (image.id == id)\n            return &image;\n"
  "    return nullptr;\n}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)

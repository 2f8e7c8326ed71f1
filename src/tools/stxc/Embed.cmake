# Writes a C++ source holding the compiled built-in highlighters as byte arrays.
#   cmake -DOUT=file.cpp "-DINPUTS=a.stc;b.stc" -P Embed.cmake
set(body "")
set(list "")
set(i 0)
foreach(input IN LISTS INPUTS)
    file(READ "${input}" hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
    string(APPEND body "const unsigned char k${i}[] = {\n${bytes}};\n")
    string(APPEND list "        {reinterpret_cast<const char*>(k${i}), sizeof k${i}},\n")
    math(EXPR i "${i} + 1")
endforeach()
file(WRITE "${OUT}.tmp"
     "// Made by the build from resources/highlighters; do not edit.\n"
     "#include \"core/highlight/CompiledBuiltins.h\"\n\n"
     "namespace morvane::highlight {\nnamespace {\n${body}} // namespace\n\n"
     "std::vector<std::string_view> compiledBuiltinForms() {\n    return {\n${list}    };\n}\n\n"
     "} // namespace morvane::highlight\n")
file(RENAME "${OUT}.tmp" "${OUT}")

#pragma once
// The built-in highlighters in their stored form, compiled from resources/highlighters by
// morvane-stxc while the program is built (library morvane_compiled_builtins), in the order of
// builtinHighlighters().

#include <string_view>
#include <vector>

namespace morvane::highlight {

std::vector<std::string_view> compiledBuiltinForms();

} // namespace morvane::highlight

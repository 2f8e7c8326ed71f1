#pragma once
// Helpers shared by the files of TMainForm (MainForm*.cpp); not for other parts of the program.

#include <QString>

#include <string>

namespace morvane::app {

inline const char* const kToolbarNames[] = {"Main", "Edit", "HTML"};

// The floating window of a toolbar carries this caption.
inline QString floatingCaption(const std::string& name) {
    return QString::fromStdString(
        name == "HTML" ? "HTML toolbar" : (name == "Main" ? "Main toolbar" : "Edit toolbar"));
}

} // namespace morvane::app

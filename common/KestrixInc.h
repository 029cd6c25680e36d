// Small helpers shared by the program's units.
#pragma once

#include <string>

// folder + '\' + name, both trimmed of spaces and control characters; no
// second backslash when the folder already ends with one.
std::string JoinPath(const std::string& folder, const std::string& name);

// s without leading and trailing spaces and control characters.
std::string Trim(const std::string& s);

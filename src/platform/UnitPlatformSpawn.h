#pragma once
// Starting programs that outlive the request that started them: a browser window, for instance.

#include <string>
#include <vector>

// The program's path in a folder of $PATH where it is executable; empty when there is none.
std::string FindProgramOnPath(const std::string& name);

// Starts the program (a path, no shell) in a session of its own with standard input, output and error on
// /dev/null, and does not wait for it. Returns an empty text, or why it could not start.
std::string StartDetachedProgram(const std::string& program, const std::vector<std::string>& arguments);

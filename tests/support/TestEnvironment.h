#pragma once

#include <functional>
#include <string>

namespace sonitor::test {

// The private root folder of this test process: config, data, shared data
// and working files all live below it, and it is removed at exit.
const std::string& PrivateRoot();

// A fresh empty folder below PrivateRoot().
std::string MakeTempFolder(const std::string& hint = "tmp");

// Runs a command line through /bin/sh and returns its exit status, or
// 128 + the signal number; for tests that drive our programs or peers.
int RunShell(const std::string& commandLine);

// Runs body in a fresh private root (see PrivateRoot.cpp) and removes the
// root afterwards; returns body's result. The main() of every test program.
int RunInPrivateRoot(const std::function<int()>& body);

}  // namespace sonitor::test

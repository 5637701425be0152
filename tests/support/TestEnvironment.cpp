#include "TestEnvironment.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "foundation/FileUtil.h"
#include "foundation/Text.h"

namespace sonitor::test {

namespace {
std::string& RootStorage() {
    static std::string root;
    return root;
}
}  // namespace

void SetPrivateRoot(const std::string& root) {
    RootStorage() = root;
}

const std::string& PrivateRoot() {
    return RootStorage();
}

std::string MakeTempFolder(const std::string& hint) {
    std::string pattern = PrivateRoot() + "/" + hint + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    return pattern;
}

int RunShell(const std::string& commandLine) {
    const int status = std::system(commandLine.c_str());
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace sonitor::test

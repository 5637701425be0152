// main() of every core test program: the tests run in a private root.
#include <gtest/gtest.h>

#include "support/TestEnvironment.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return sonitor::test::RunInPrivateRoot([] { return RUN_ALL_TESTS(); });
}

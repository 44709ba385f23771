# Package lists shared by run.sh and test.sh.
# What building the program needs.
BUILD_PACKAGES=(build-essential cmake pkg-config libdeflate-dev)
# What the test suite needs on top of that.
TEST_PACKAGES=(libgtest-dev)

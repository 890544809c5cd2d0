// OrvixSetup: a stand-in of the player's installer package. It installs nothing; it only
// notes how it was started, "started with N arguments", in the file named by the
// environment variable INSTALLER_MARKER, so a run of the agent can show that it started
// the package and with which command line. Without that variable, or when the file cannot
// be written, it says so on standard error and ends with exit code 1.
#include <cstdio>
#include <cstdlib>

namespace {

int fail(const char* message) {
    std::fprintf(stderr, "OrvixSetup: %s\nusage: INSTALLER_MARKER=FILE OrvixSetup [ARGUMENT...]\n", message);
    return 1;
}

}  // namespace

int main(int argc, char**) {
    const char* marker = std::getenv("INSTALLER_MARKER");
    if (!marker || !*marker) return fail("INSTALLER_MARKER names no file to write");
    std::FILE* file = std::fopen(marker, "wb");
    if (!file) return fail("cannot write the file INSTALLER_MARKER names");
    std::fprintf(file, "started with %d arguments\n", argc - 1);
    return std::fclose(file) == 0 ? 0 : fail("cannot write the file INSTALLER_MARKER names");
}

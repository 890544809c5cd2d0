// OrvixSetup: a stand-in of the player's installer package. It installs nothing; it only
// notes how it was started, "started with N arguments", in the file named by the
// environment variable INSTALLER_MARKER, so a run of the agent can show that it started
// the package and with which command line.
#include <cstdio>
#include <cstdlib>

int main(int argc, char**) {
    const char* marker = std::getenv("INSTALLER_MARKER");
    if (!marker || !*marker) return 1;
    std::FILE* file = std::fopen(marker, "wb");
    if (!file) return 1;
    std::fprintf(file, "started with %d arguments\n", argc - 1);
    return std::fclose(file) == 0 ? 0 : 1;
}

// Linux entry: hands the command line to the same entry operation as wWinMain on Windows.
#include <string>

#include "app/entry.h"
#include "platform/text.h"

int main(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    return agent::wWinMain(text::fromAnsi(line));
}

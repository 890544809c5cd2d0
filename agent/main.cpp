// Process entry: hands the command line to the agent's entry operation. On Windows the C
// runtime calls wWinMain with the command line without the program name (GUI subsystem,
// built with -municode); elsewhere main joins the arguments the same way.
#include <string>

#include "agent/entry.h"
#include "text/text.h"

#ifdef _WIN32
// The Win32 signature spelt without <windows.h>: instance handles, command line, show flag.
extern "C" int __stdcall wWinMain(void*, void*, wchar_t* commandLine, int) {
    return agent::wWinMain(commandLine ? reinterpret_cast<const char16_t*>(commandLine) : u"");
}
#else
int main(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    return agent::wWinMain(text::fromAnsi(line));
}
#endif

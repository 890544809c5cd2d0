// The commands of ovpublish; each takes its own arguments (after the command word) and
// answers the process's exit code: 0 done, 1 failed with one line on standard error.
#pragma once

namespace publish {

int modulesCommand(int argc, char** argv);
int packageCommand(int argc, char** argv);
int signCommand(int argc, char** argv);
int verifyCommand(int argc, char** argv);
int explainCommand(int argc, char** argv);

}  // namespace publish

// Downloading the chosen package is not available yet: the run ends as a failed download.
#include "decision/update_driver.h"

void UpdateDriver::downloadPackage() { finishUpdateRun(kRunDownloadFailed, false); }

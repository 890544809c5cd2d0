// One resumable download as the agent makes it, for bench/resume_bench.sh:
//   bench_resume_run URL TARGET SIZE
// Exit code 0 when the whole file stands under TARGET.
#include <cstdio>
#include <cstdlib>

#include "fetch/resumable_download.h"
#include "text/text.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_resume_run URL TARGET SIZE\n");
        return 2;
    }
    fetch::ResumableDownload download;
    download.url = text::fromUtf8(argv[1]);
    download.target = text::fromUtf8(argv[2]);
    download.expectedSize = std::strtoull(argv[3], nullptr, 10);
    return fetch::downloadResumable(download).ok() ? 0 : 1;
}

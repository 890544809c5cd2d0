// The installer part of a background run once the decision is made: the package download
// (engine first unless the document asks for HTTP, then HTTP from the full link and each
// package domain), its verification, and installation or recording. A running engine task
// answers later through the normal update thread's messages, which come back here.
#pragma once
#include <cstdint>

#include "fetch/engine_session.h"
#include "fetch/package.h"

namespace fetch {

// What the agent does next.
enum class NextStep {
    Wait,         // the engine runs; its outcome arrives as a thread message
    EndRun,       // the run is over
    ModuleStage,  // no package was obtained: the module update follows, then the end
};

class PackageRun {
public:
    // Takes over from the decision: finishes at once, or downloads the job's package.
    NextStep start(Verdict verdict, PackageJob job);
    // A message of the normal update thread's loop other than the end of the run.
    NextStep handleMessage(uint32_t message);
    // The last status the run finished with; -1 before it finished.
    int lastStatus() const { return m_lastStatus; }
    const PackageJob& job() const { return m_job; }
    EngineSession& engine() { return m_engine; }

private:
    NextStep download();
    NextStep downloadOverHttp();
    // Where the package on disk came from.
    enum class Source { Disk, Http, Engine };
    // Every way out of the package part ends here. A package from the engine that fails
    // its digest is fetched once more over HTTP, which ends here again.
    NextStep finish(RunStatus status, Source source);

    PackageJob m_job;
    EngineSession m_engine;
    int m_lastStatus = -1;
};

}  // namespace fetch

#include "launcher/download/download_run.h"

void record_first_error(DownloadRun& run, const std::string& message) {
    AcquireSRWLockExclusive(&run.lock);
    if (run.error_recorded.load() == 0) run.first_error = message;
    run.error_recorded.exchange(1);
    run.abort.exchange(1);
    ReleaseSRWLockExclusive(&run.lock);
}
